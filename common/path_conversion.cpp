#include "common/path_conversion.h"

#include <type_traits>

#include "common/text_conversion.h"

namespace {

using NativeChar = std::filesystem::path::value_type;

// Templates, so that only the branch of this platform's native text is compiled.
template <typename Char = NativeChar>
std::basic_string<Char> NativeOf(const std::wstring& text) {
    if constexpr (std::is_same_v<Char, wchar_t>) {
        return text;
    } else {
        return Utf16ToUtf8(text);
    }
}

template <typename Char = NativeChar>
std::wstring WideOf(const std::basic_string<Char>& native) {
    if constexpr (std::is_same_v<Char, wchar_t>) {
        return native;
    } else {
        return Utf8ToUtf16(native);
    }
}

}  // namespace

std::filesystem::path WideToPath(const std::wstring& text) {
    return std::filesystem::path(NativeOf(text));
}

std::wstring PathToWide(const std::filesystem::path& path) { return WideOf(path.native()); }
