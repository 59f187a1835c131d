// File names outside ASCII, as wide text and as the bytes a Linux folder holds them in. One is
// not UTF-8: its wide text is its U+FFFD form, which is the name of the last one.
#pragma once

#include <string_view>

namespace test_support {

struct NonAsciiName {
    std::wstring_view wide;
    std::string_view bytes;
    bool utf8;  // the bytes are the UTF-8 form of `wide`
};

inline constexpr NonAsciiName kNonAsciiNames[] = {
    {L"déjà vu – Ærø.log", "d\xC3\xA9j\xC3\xA0 vu \xE2\x80\x93 \xC3\x86r\xC3\xB8.log", true},
    {L"журнал-déjà.log", "\xD0\xB6\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB-d\xC3\xA9j\xC3\xA0.log",
     true},
    {L"日志ログ.txt", "\xE6\x97\xA5\xE5\xBF\x97\xE3\x83\xAD\xE3\x82\xB0.txt", true},
    {L"crash 😀.log", "crash \xF0\x9F\x98\x80.log", true},
    {L"latin1-caf\uFFFD.log", "latin1-caf\xE9.log", false},
    {L"latin1-caf\uFFFD.log", "latin1-caf\xEF\xBF\xBD.log", true},
};

}  // namespace test_support
