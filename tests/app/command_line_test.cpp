#include "src/command_line.h"

#include <gtest/gtest.h>
#include <platform/testing.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Options = std::map<std::string, std::string>;

Options Parse(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"C:\\Program Files\\Velmora\\tallorin.exe");
    platform::testing::SetCommandLineArguments(arguments);
    const auto map = ParseCommandLine();
    platform::testing::Reset();
    Options options;
    for (const char* name : {"crash-uuid", "email", "product", "version"}) {
        if (map.count(name) > 0) {
            options[name] = GetOptionString(map, name);
        }
    }
    return options;
}

TEST(ParseCommandLine, FillsTheOptionMapAsBoostParsesIt) {
    struct Case {
        const char* what;
        std::vector<std::wstring> arguments;
        Options expected;
    };
    const Options all = {
        {"crash-uuid", "U-1"}, {"email", "a@b.c"}, {"product", "Velmora AV"}, {"version", "1.2"}};
    const Case cases[] = {
        {"values in the next token",
         {L"--crash-uuid", L"U-1", L"--email", L"a@b.c", L"--product", L"Velmora AV", L"--version",
          L"1.2"},
         all},
        {"values after an equals sign",
         {L"--crash-uuid=U-1", L"--email=a@b.c", L"--product=Velmora AV", L"--version=1.2"},
         all},
        {"unambiguous prefixes",
         {L"--crash", L"U-1", L"--e", L"a@b.c", L"--ver", L"1.2"},
         {{"crash-uuid", "U-1"}, {"email", "a@b.c"}, {"version", "1.2"}}},
        {"an unknown option is dropped with its value",
         {L"--colour", L"blue", L"--email", L"a@b.c"},
         {{"email", "a@b.c"}}},
        {"bare tokens are dropped",
         {L"stray", L"--email", L"a@b.c", L"more"},
         {{"email", "a@b.c"}}},
        {"names are case-sensitive", {L"--EMAIL", L"a@b.c"}, {}},
        {"a missing value at the end empties the map", {L"--product", L"P", L"--email"}, {}},
        {"an empty value after equals empties the map", {L"--product", L"P", L"--email="}, {}},
        {"a repeated option stops storing",
         {L"--email", L"first@x.y", L"--email", L"second@x.y", L"--product", L"P"},
         {{"email", "first@x.y"}}},
        {"non-ASCII values come back as UTF-8",
         {L"--email", L"j\u00FCrgen@\u00E9xample.de", L"--product", L"\u30A6\u30A4\u30EB\u30B9"},
         {{"email", "j\xC3\xBCrgen@\xC3\xA9xample.de"},
          {"product", "\xE3\x82\xA6\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\xB9"}}},
        {"quoted values keep their blanks",
         {L"--product=Velmora Antivirus"},
         {{"product", "Velmora Antivirus"}}},
        {"program path only", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Parse(c.arguments), c.expected);
    }
}

TEST(GetOptionString, GivesEmptyTextForAnAbsentOption) {
    platform::testing::SetCommandLineArguments({L"tallorin", L"--email", L"a@b.c"});
    const auto map = ParseCommandLine();
    platform::testing::Reset();
    EXPECT_EQ(GetOptionString(map, "email"), "a@b.c");
    EXPECT_EQ(GetOptionString(map, "crash-uuid"), "");
    EXPECT_EQ(GetOptionString(map, "no-such-option"), "");
}

}  // namespace
