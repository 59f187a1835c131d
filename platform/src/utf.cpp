#include "platform/src/utf.h"

namespace platform::detail {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one code point at `pos`, advancing it past the sequence or the invalid subpart.
char32_t DecodeOne(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) {
        return lead;
    }
    int length = 0;
    char32_t value = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return kReplacement;
    }
    for (int i = 1; i < length; ++i) {
        if (pos >= text.size()) {
            return kReplacement;
        }
        const auto byte = static_cast<unsigned char>(text[pos]);
        const unsigned char min = i == 1 ? low : 0x80;
        const unsigned char max = i == 1 ? high : 0xBF;
        if (byte < min || byte > max || !IsContinuation(byte)) {
            return kReplacement;
        }
        value = (value << 6) | (byte & 0x3F);
        ++pos;
    }
    return value;
}

void AppendUtf8(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
    std::wstring wide;
    wide.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        wide += static_cast<wchar_t>(DecodeOne(utf8, pos));
    }
    return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
    std::string utf8;
    utf8.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        auto code_point = static_cast<char32_t>(wide[i]);
        // A UTF-16 pair that reached a wide string is still one character.
        if (IsHighSurrogate(code_point) && i + 1 < wide.size() &&
            IsLowSurrogate(static_cast<char32_t>(wide[i + 1]))) {
            code_point = 0x10000 + ((code_point - 0xD800) << 10) +
                         (static_cast<char32_t>(wide[i + 1]) - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(code_point) || IsLowSurrogate(code_point) ||
                   code_point > 0x10FFFF) {
            code_point = kReplacement;
        }
        AppendUtf8(utf8, code_point);
    }
    return utf8;
}

}  // namespace platform::detail
