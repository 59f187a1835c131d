#include "common/text_conversion.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

namespace {

TEST(TextConversion, ConvertsBothWays) {
    struct Case {
        std::wstring wide;
        std::string utf8;
    };
    const Case cases[] = {
        {L"", ""},
        {L"plain", "plain"},
        {L"Stra\u00DFe \u20AC",
         "Stra\xC3\x9F"
         "e \xE2\x82\xAC"},
        {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},  // the zero and the text after it
        {L"\U0001F600", "\xF0\x9F\x98\x80"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Utf16ToUtf8(cases[i].wide), cases[i].utf8);
        EXPECT_EQ(Utf8ToUtf16(cases[i].utf8), cases[i].wide);
    }
}

TEST(TextConversion, InvalidInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("A\x80"
                          "B"),
              L"A\uFFFDB");
    EXPECT_EQ(Utf16ToUtf8(std::wstring(1, static_cast<wchar_t>(0xDC00))), "\xEF\xBF\xBD");
}

TEST(TextConversion, AFailedConversionGivesEmptyText) {
    platform::testing::FailCall("WideCharToMultiByte", ERROR_NO_UNICODE_TRANSLATION, 1);
    EXPECT_EQ(Utf16ToUtf8(L"text"), "");
    platform::testing::FailCall("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, 1);
    EXPECT_EQ(Utf8ToUtf16("text"), L"");
    platform::testing::Reset();
}

}  // namespace
