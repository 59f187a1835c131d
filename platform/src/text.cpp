#include <windows.h>

#include <cstring>
#include <cwchar>

#include "platform/src/fault_injection.h"
#include "platform/src/utf.h"

namespace {

bool IsUtf8CodePage(UINT code_page) {
    return code_page == CP_UTF8 || code_page == CP_ACP || code_page == CP_THREAD_ACP;
}

// Windows' rule for the output: a size of 0 asks for the length; a buffer too small fails.
template <typename Char, typename Text>
int Deliver(const Text& converted, Char* target, int target_length) {
    const auto length = static_cast<int>(converted.size());
    if (target_length == 0) {
        return length;
    }
    if (target == nullptr || target_length < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(target, converted.data(), converted.size() * sizeof(Char));
    return length;
}

}  // namespace

extern "C" {

int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source, int source_length,
                               LPWSTR target, int target_length) {
    if (platform::detail::TakeInjectedFailure("MultiByteToWideChar")) {
        return 0;
    }
    if (!IsUtf8CodePage(code_page) || flags != 0 || source == nullptr || source_length == 0 ||
        source_length < -1 || target_length < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the text up to and including its terminator.
    const std::size_t length =
        source_length == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(source_length);
    const auto wide = platform::detail::Utf8ToWide(std::string_view(source, length));
    return Deliver(wide, target, target_length);
}

int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR source, int source_length,
                               LPSTR target, int target_length, LPCSTR default_char,
                               LPBOOL used_default_char) {
    if (platform::detail::TakeInjectedFailure("WideCharToMultiByte")) {
        return 0;
    }
    // UTF-8 takes neither a default character nor its flag, as on Windows.
    if (!IsUtf8CodePage(code_page) || flags != 0 || source == nullptr || source_length == 0 ||
        source_length < -1 || target_length < 0 ||
        (code_page == CP_UTF8 && (default_char != nullptr || used_default_char != nullptr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Every character has a UTF-8 form, so no default character is ever used.
    if (used_default_char != nullptr) {
        *used_default_char = FALSE;
    }
    const std::size_t length =
        source_length == -1 ? std::wcslen(source) + 1 : static_cast<std::size_t>(source_length);
    const auto utf8 = platform::detail::WideToUtf8(std::wstring_view(source, length));
    return Deliver(utf8, target, target_length);
}
}
