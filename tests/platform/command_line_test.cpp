#include <windows.h>

#include <boost_split_winmain.h>
#include <gtest/gtest.h>
#include <platform/testing.h>

#include <string>
#include <vector>

namespace {

using platform::testing::QuoteArgument;
using platform::testing::SplitCommandLine;
using Tokens = std::vector<std::wstring>;

TEST(SplitCommandLine, AppliesTheWindowsRulesForQuotesAndBackslashes) {
    struct Case {
        std::wstring line;
        Tokens tokens;
    };
    const Case cases[] = {
        {L"", {}},
        {L"   \t ", {}},
        {L"a b\tc", {L"a", L"b", L"c"}},
        {L"  lead  trail  ", {L"lead", L"trail"}},
        {L"\"a b\" c", {L"a b", L"c"}},
        {L"a\"b c\"d", {L"ab cd"}},
        {L"\"\"", {L""}},
        {L"a \"\" b", {L"a", L"", L"b"}},
        {L"C:\\dir\\file", {L"C:\\dir\\file"}},  // backslashes alone are literal
        {L"a\\\\\"b c\"", {L"a\\b c"}},          // 2n backslashes + quote: n, quote opens
        {L"a\\\"b", {L"a\"b"}},                  // 2n+1: n and a literal quote
        {L"a\\\\\\\"b", {L"a\\\"b"}},
        {L"trailing\\\\", {L"trailing\\\\"}},
        {L"\"unterminated arg", {L"unterminated arg"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(SplitCommandLine(cases[i].line), cases[i].tokens);
        EXPECT_EQ(boost::program_options::split_winmain(cases[i].line), cases[i].tokens);
    }
}

TEST(QuoteArgument, RoundTripsThroughSplitting) {
    const Tokens arguments = {
        L"plain",      L"",     L"with space", L"tab\there",        L"quote\"in",    L"ends\\",
        L"ends in \\", L"\\\"", L"C:\\a b\\",  L"\u00E9\U0001F600", L"--email=a@b.c"};
    std::wstring line;
    for (const auto& argument : arguments) {
        line += (line.empty() ? L"" : L" ") + QuoteArgument(argument);
    }
    EXPECT_EQ(SplitCommandLine(line), arguments);
    EXPECT_EQ(QuoteArgument(L"plain"), L"plain");
    EXPECT_EQ(QuoteArgument(L""), L"\"\"");
    EXPECT_EQ(QuoteArgument(L"a b\\"), L"\"a b\\\\\"");
}

TEST(GetCommandLine, RebuildsTheArgumentsInWideAndAnsiForm) {
    platform::testing::SetCommandLineArguments(
        {L"/opt/app/tallorin", L"--email", L"J\u00FCrgen <j@x.de>", L""});
    EXPECT_EQ(std::wstring(GetCommandLineW()),
              L"/opt/app/tallorin --email \"J\u00FCrgen <j@x.de>\" \"\"");
    EXPECT_EQ(std::string(GetCommandLineA()),
              "/opt/app/tallorin --email \"J\xC3\xBCrgen <j@x.de>\" \"\"");
    platform::testing::Reset();
}

TEST(GetCommandLine, DefaultsToTheProcessArguments) {
    platform::testing::Reset();
    const auto tokens = SplitCommandLine(GetCommandLineW());
    ASSERT_FALSE(tokens.empty());
    EXPECT_NE(tokens.front().find(L"platform_tests"), std::wstring::npos);
}

}  // namespace
