#include "common/text_conversion.h"

#include <windows.h>

std::string Utf16ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    // The explicit length carries embedded zero characters through.
    const int length = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed == 0) {
        return {};
    }
    std::string result(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), needed, nullptr,
                            nullptr) == 0) {
        return {};
    }
    return result;
}

std::wstring Utf8ToUtf16(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed == 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), needed);
    return result;
}
