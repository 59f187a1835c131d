// Standard Base64 (RFC 4648: "A"-"Z", "a"-"z", "0"-"9", "+", "/", "=" padding) on one line,
// through Crypto++; a large input is coded in pieces on a few threads, joined before return.
// A failure of the coder is a std::runtime_error with Crypto++'s text.
#pragma once

#include <cstddef>
#include <string>

std::string Base64Encode(const char* data, std::size_t length);

// Appends the Base64 text of the bytes to `text`, growing it once to its final size.
void AppendBase64(std::string& text, const char* data, std::size_t length);

// The length of the Base64 text of `length` bytes.
constexpr std::size_t Base64Length(std::size_t length) { return (length + 2) / 3 * 4; }
