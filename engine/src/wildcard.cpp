#include "sciter/wildcard.h"

namespace sciter::aux {

void wildcard_char_class(std::bitset<65536>& bitmap, const char16_t*& pattern) {
    bitmap.reset();
    bool negated = false;
    if (*pattern == u'^') {
        negated = true;
        ++pattern;
    }
    if (*pattern == u'-') {
        bitmap.set(u'-');
        ++pattern;
    }
    while (*pattern != 0 && *pattern != u']') {
        const char16_t first = *pattern++;
        if (*pattern == u'-' && pattern[1] != 0 && pattern[1] != u']') {
            const char16_t last = pattern[1];
            pattern += 2;
            for (char32_t c = first; c <= last; ++c) {
                bitmap.set(c);
            }
        } else {
            bitmap.set(first);
        }
    }
    if (*pattern == u']') {
        ++pattern;
    }
    if (negated) {
        bitmap.flip();
    }
}

int wildcard_match(const char16_t* pattern, const char16_t* text, std::size_t length) {
    const char16_t* after_star = nullptr;
    std::size_t star_text = 0;
    std::size_t position = 0;
    for (;;) {
        while (*pattern == u'*') {
            after_star = ++pattern;
            star_text = position;
        }
        if (position >= length || text[position] == 0) {
            return *pattern == 0 ? 0 : -1;
        }
        const char16_t c = text[position];
        if (*pattern == u'[') {
            std::bitset<65536> members;
            ++pattern;
            wildcard_char_class(members, pattern);
            if (!members.test(c)) {
                return -1;
            }
            ++position;
            continue;
        }
        const bool matched =
            *pattern == u'?' ||
            (*pattern == u'#' ? c >= u'0' && c <= u'9' : *pattern != 0 && *pattern == c);
        if (matched) {
            ++pattern;
            ++position;
            continue;
        }
        if (after_star == nullptr) {
            return -1;
        }
        pattern = after_star;
        position = ++star_text;
    }
}

}  // namespace sciter::aux
