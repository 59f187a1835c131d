#include "sciter/aux.h"

#include <algorithm>

namespace sciter::aux {

namespace {
constexpr std::size_t kInitialCapacity = 256;
}

utf16_buffer::utf16_buffer()
    : units_(std::make_unique_for_overwrite<char16_t[]>(kInitialCapacity)),
      capacity_(kInitialCapacity) {}

void utf16_buffer::reserve_one_more() {
    if (count_ < capacity_) {
        return;
    }
    const std::size_t capacity = std::max(capacity_ * 3 / 2, count_ + 1);
    auto units = std::make_unique_for_overwrite<char16_t[]>(capacity);
    std::copy_n(units_.get(), count_, units.get());
    units_ = std::move(units);
    capacity_ = capacity;
}

void utf16_buffer::push(char16_t unit) {
    reserve_one_more();
    units_[count_++] = unit;
}

void utf16_buffer::terminate() {
    reserve_one_more();
    units_[count_] = u'\0';
}

bool utf8_to_wchars(const std::uint8_t* bytes, std::size_t length, utf16_buffer& out) {
    if (bytes == nullptr || length == 0) {
        return true;
    }
    bool clean = true;
    std::size_t i = 0;
    while (i < length) {
        const std::uint8_t lead = bytes[i];
        if (lead == 0) {
            break;
        }
        std::size_t trail = 0;
        if (lead < 0x80) {
            out.push(lead);
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            trail = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            trail = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            trail = 3;
        } else {
            out.push(u'?');
            clean = false;
            ++i;
            continue;
        }
        if (length - i <= trail) {
            // A cut-off four-byte sequence alone leaves the result clean, as the engine's does.
            out.push(u'?');
            return clean && trail == 3;
        }
        const std::uint8_t* next = bytes + i + 1;
        if (trail == 1) {
            out.push(static_cast<char16_t>((lead & 0x1F) << 6 | (next[0] & 0x3F)));
        } else if (trail == 2) {
            const auto unit = static_cast<char16_t>((lead & 0x0F) << 12 | (next[0] & 0x3F) << 6 |
                                                    (next[1] & 0x3F));
            if (!(unit == 0xFEFF && out.empty())) {
                out.push(unit);
            }
        } else {
            const std::uint32_t cp = static_cast<std::uint32_t>(lead & 0x07) << 18 |
                                     static_cast<std::uint32_t>(next[0] & 0x3F) << 12 |
                                     static_cast<std::uint32_t>(next[1] & 0x3F) << 6 |
                                     static_cast<std::uint32_t>(next[2] & 0x3F);
            out.push(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
        i += trail + 1;
    }
    return clean;
}

std::wstring utf16_to_wide(std::u16string_view units) {
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
        return std::wstring(units.begin(), units.end());
    } else {
        std::wstring text;
        text.reserve(units.size());
        for (std::size_t i = 0; i < units.size(); ++i) {
            const char16_t unit = units[i];
            if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                units[i + 1] < 0xE000) {
                text.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) +
                                                    (units[i + 1] - 0xDC00)));
                ++i;
            } else {
                text.push_back(static_cast<wchar_t>(unit));
            }
        }
        return text;
    }
}

std::u16string wide_to_utf16(std::wstring_view text) {
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
        return std::u16string(text.begin(), text.end());
    } else {
        std::u16string units;
        units.reserve(text.size());
        for (const wchar_t c : text) {
            const auto code = static_cast<std::uint32_t>(c);
            if (code >= 0x10000 && code <= 0x10FFFF) {
                units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
                units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
            } else if (code > 0x10FFFF) {
                units.push_back(u'\uFFFD');
            } else {
                units.push_back(static_cast<char16_t>(code));
            }
        }
        return units;
    }
}

}  // namespace sciter::aux
