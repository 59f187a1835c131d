#include "platform/engine/src/text.h"

#include <cstdint>

namespace engine_stand_in::detail {

std::u16string Utf8ToUnits(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t trail = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            trail = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            trail = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            trail = 3;
            code = lead & 0x07;
        } else {
            units.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        bool valid = i + trail < text.size();
        for (std::size_t k = 1; valid && k <= trail; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
            } else {
                code = code << 6 | (next & 0x3F);
            }
        }
        if (!valid || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            units.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
        i += trail + 1;
    }
    return units;
}

std::string UnitsToUtf8(std::u16string_view units) {
    std::string text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code = units[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            text.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            text.push_back(static_cast<char>(0xC0 | code >> 6));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | code >> 12));
            text.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | code >> 18));
            text.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return text;
}

}  // namespace engine_stand_in::detail
