#include <windows.h>

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <string>

namespace {

std::wstring ToWide(const std::string& utf8) {
    const int needed =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        needed);
    return wide;
}

std::string ToUtf8(const std::wstring& wide, UINT code_page = CP_UTF8) {
    const int needed = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                        needed, nullptr, nullptr);
    return utf8;
}

TEST(MultiByteToWideChar, DecodesUtf8AndReplacesInvalidSequences) {
    struct Case {
        std::string utf8;
        std::wstring wide;
    };
    const Case cases[] = {
        {"abc", L"abc"},
        {"\xC3\xA9t\xC3\xA9", L"\u00E9t\u00E9"},
        {"\xF0\x9F\x98\x80", L"\U0001F600"},
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},  // explicit length keeps the zero
        {"A\x80"
         "B",
         L"A\uFFFDB"},                                      // stray continuation byte
        {"\xE2\x82", L"\uFFFD"},                            // cut-off sequence: one U+FFFD
        {"\xC0\xAF", L"\uFFFD\uFFFD"},                      // overlong form
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ToWide(cases[i].utf8), cases[i].wide);
    }
}

TEST(WideCharToMultiByte, EncodesUtf8ForEveryAnsiCodePage) {
    const std::wstring text = L"Gr\u00FC\u00DFe \u20AC \U0001F600";
    const std::string expected =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xF0\x9F\x98\x80";
    EXPECT_EQ(ToUtf8(text, CP_UTF8), expected);
    EXPECT_EQ(ToUtf8(text, CP_THREAD_ACP), expected);
    EXPECT_EQ(ToUtf8(text, CP_ACP), expected);
    EXPECT_EQ(ToUtf8(std::wstring(L"\xD800x", 2)), "\xEF\xBF\xBDx");          // lone surrogate
    EXPECT_EQ(ToUtf8(std::wstring(L"\xD83D\xDE00", 2)), "\xF0\x9F\x98\x80");  // a UTF-16 pair
}

TEST(WideCharToMultiByte, FollowsWindowsBufferRules) {
    // -1 counts the terminator; a buffer too small fails with ERROR_INSUFFICIENT_BUFFER.
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"ab", -1, nullptr, 0, nullptr, nullptr), 3);
    char small[2];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"abc", 3, small, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(1252, 0, L"a", 1, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "", 0, nullptr, 0), 0);
}

TEST(FailCall, FailsTheNamedCallTheGivenNumberOfTimes) {
    platform::testing::FailCall("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, 1);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 0), 1);

    platform::testing::FailCall("MultiByteToWideChar", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 0), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 0), 0);
    platform::testing::Reset();
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 0), 1);
}

// The first `skip` calls pass, then `times` fail, then the call works again.
TEST(FailCall, LetsTheFirstCallsThroughWithASkipCount) {
    for (const int times : {2, -1}) {
        SCOPED_TRACE(times);
        platform::testing::FailCall("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, times, 3);
        std::string outcome;
        for (int call = 0; call < 7; ++call) {
            outcome += MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 0) == 1 ? 'p' : 'f';
        }
        EXPECT_EQ(outcome, times < 0 ? "pppffff" : "pppffpp");
        platform::testing::Reset();
    }
}

}  // namespace
