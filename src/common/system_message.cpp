#include "system_message.h"

#include <array>
#include <string_view>

#include "text_conversion.h"

std::string SystemMessage(DWORD number) {
    std::array<wchar_t, 512> buffer{};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, number,
                       0, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
    std::wstring_view text(buffer.data(), length);
    const auto end = text.find_last_not_of(L" \t\r\n");
    text = text.substr(0, end == std::wstring_view::npos ? 0 : end + 1);
    if (text.empty()) {
        return "unknown error";
    }
    return Utf16ToUtf8(std::wstring(text));
}
