// Text helpers at the engine's border: the engine speaks UTF-16 units, the program wide text
// (UTF-16 on Windows, UTF-32 here) and UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace sciter::aux {

// A growable array of UTF-16 units. Starts with room for 256; when one more unit does not fit
// the capacity becomes capacity * 3 / 2, or count + 1 if that is larger.
class utf16_buffer {
public:
    utf16_buffer();

    void push(char16_t unit);
    // Appends a terminating zero, not counted in length().
    void terminate();

    const char16_t* data() const { return units_.get(); }
    std::size_t length() const { return count_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return count_ == 0; }

private:
    void reserve_one_more();

    std::unique_ptr<char16_t[]> units_;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

// Appends the UTF-16 form of `length` UTF-8 bytes. Never refuses input: bad bytes become '?',
// a sequence cut off by the end becomes one '?' and ends the conversion, a NUL ends it, and a
// byte-order mark is dropped while the buffer is still empty. True when no byte was replaced
// and no two- or three-byte sequence was cut off (a cut-off four-byte one does not count).
bool utf8_to_wchars(const std::uint8_t* bytes, std::size_t length, utf16_buffer& out);

// Between the engine's units and wide text; unpaired surrogates are kept as they are.
std::wstring utf16_to_wide(std::u16string_view units);
std::u16string wide_to_utf16(std::wstring_view text);

}  // namespace sciter::aux
