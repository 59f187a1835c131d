// The small wildcard matcher the host uses to tell URL schemes apart.
#pragma once

#include <bitset>
#include <cstddef>

namespace sciter::aux {

// An anchored match of the whole text (up to `length` units or a zero) against the pattern:
// "*" any run, "?" any one character, "#" one decimal digit, "[...]" one character of a class,
// anything else itself, case-sensitively. Goes back only to the last "*"; a character outside
// a class fails at once. 0 on a match, -1 otherwise.
int wildcard_match(const char16_t* pattern, const char16_t* text, std::size_t length);

// Parses the class that starts after a "[" at `pattern` into `bitmap` and moves `pattern` past
// its "]" (or to the end when there is none). "^" first negates; a "-" first (after any "^")
// is a member; "a-z" is a range, empty when reversed.
void wildcard_char_class(std::bitset<65536>& bitmap, const char16_t*& pattern);

}  // namespace sciter::aux
