// Number to text as JavaScript's String() writes it: the shortest digits that read back as
// the same number, in plain notation from 1e-6 up to 1e21, in exponent notation outside.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/engine/src/value_store.h"

namespace engine_stand_in::detail {

std::u16string NumberText(double number) {
    if (std::isnan(number)) {
        return u"NaN";
    }
    if (std::isinf(number)) {
        return number < 0 ? u"-Infinity" : u"Infinity";
    }
    if (number == 0) {
        return u"0";  // -0 too
    }
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, std::abs(number),
                                   std::chars_format::scientific)
                         .ptr;
    const std::string scientific(buffer, end);  // d[.ddd]e±x
    const auto e = scientific.find('e');
    std::string digits = scientific.substr(0, e);
    if (digits.size() > 1) {
        digits.erase(1, 1);  // the point
    }
    const int k = static_cast<int>(digits.size());
    const int n = std::atoi(scientific.c_str() + e + 1) + 1;  // the point sits after n digits

    std::string text = number < 0 ? "-" : "";
    if (k <= n && n <= 21) {
        text += digits + std::string(static_cast<std::size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        text += digits.substr(0, static_cast<std::size_t>(n)) + "." +
                digits.substr(static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        text += "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
    } else {
        text += digits.substr(0, 1);
        if (k > 1) {
            text += "." + digits.substr(1);
        }
        text += (n - 1 < 0 ? "e-" : "e+") + std::to_string(std::abs(n - 1));
    }
    return {text.begin(), text.end()};
}

}  // namespace engine_stand_in::detail
