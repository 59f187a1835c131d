// The system's message texts, for the error numbers and HRESULTs that the layer's calls give.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <optional>
#include <string_view>

namespace {

struct Message {
    DWORD number;
    std::wstring_view text;
};

// Windows' English texts, without their closing "\r\n".
constexpr std::array kWin32Messages{
    Message{0, L"The operation completed successfully."},
    Message{1, L"Incorrect function."},
    Message{2, L"The system cannot find the file specified."},
    Message{3, L"The system cannot find the path specified."},
    Message{4, L"The system cannot open the file."},
    Message{5, L"Access is denied."},
    Message{6, L"The handle is invalid."},
    Message{8, L"Not enough memory resources are available to process this command."},
    Message{14, L"Not enough memory resources are available to complete this operation."},
    Message{18, L"There are no more files."},
    Message{32,
            L"The process cannot access the file because it is being used by another "
            L"process."},
    Message{38, L"Reached the end of the file."},
    Message{80, L"The file exists."},
    Message{87, L"The parameter is incorrect."},
    Message{112, L"There is not enough space on the disk."},
    Message{120, L"This function is not supported on this system."},
    Message{122, L"The data area passed to a system call is too small."},
    Message{126, L"The specified module could not be found."},
    Message{127, L"The specified procedure could not be found."},
    Message{131,
            L"An attempt was made to move the file pointer before the beginning of the "
            L"file."},
    Message{145, L"The directory is not empty."},
    Message{183, L"Cannot create a file when that file already exists."},
    Message{203, L"The system could not find the environment option that was entered."},
    Message{234, L"More data is available."},
    Message{267, L"The directory name is invalid."},
    Message{1008, L"An attempt was made to reference a token that does not exist."},
    Message{1113,
            L"No mapping for the Unicode character exists in the target multi-byte code "
            L"page."},
    Message{1168, L"Element not found."},
    Message{1312,
            L"A specified logon session does not exist. It may already have been "
            L"terminated."},
    Message{1314, L"A required privilege is not held by the client."},
    Message{1400, L"Invalid window handle."},
    Message{1812, L"The specified image file did not contain a resource section."},
    Message{1813, L"The specified resource type cannot be found in the image file."},
    Message{1814, L"The specified resource name cannot be found in the image file."},
};

constexpr DWORD kEFail = 0x80004005U;
constexpr DWORD kWin32Facility = 0x80070000U;

std::optional<std::wstring_view> TextOf(DWORD number) {
    if (number == kEFail) {
        return L"Unspecified error";
    }
    // An HRESULT made from a Win32 error number has that number's text.
    if ((number & 0xFFFF0000U) == kWin32Facility) {
        number &= 0xFFFFU;
    }
    const auto found = std::find_if(kWin32Messages.begin(), kWin32Messages.end(),
                                    [number](const Message& m) { return m.number == number; });
    if (found == kWin32Messages.end()) {
        return std::nullopt;
    }
    return found->text;
}

DWORD Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

extern "C" {

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID /*source*/, DWORD message_id,
                            DWORD /*language_id*/, LPWSTR buffer, DWORD size,
                            va_list* /*arguments*/) {
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
        (flags & ~(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS)) != 0 ||
        buffer == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const auto text = TextOf(message_id);
    if (!text) {
        return Fail(ERROR_MR_MID_NOT_FOUND);
    }
    constexpr std::wstring_view kLineEnd = L"\r\n";
    const std::size_t length = text->size() + kLineEnd.size();
    if (length >= size) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::wmemcpy(buffer, text->data(), text->size());
    std::wmemcpy(buffer + text->size(), kLineEnd.data(), kLineEnd.size());
    buffer[length] = L'\0';
    return static_cast<DWORD>(length);
}
}
