#include "sciter/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WildcardMatch, MatchesTheWholeTextAgainstThePattern) {
    struct Case {
        const char16_t* pattern;
        const char16_t* text;
        int answer;
    };
    const Case cases[] = {
        {u"res:*", u"res:page.html", 0},
        {u"res:*", u"res:", 0},
        {u"res:*", u"RES:page.html", -1},
        {u"this://app/*", u"this://app/index.html", 0},
        {u"this://app/*", u"this://app", -1},
        {u"//*", u"//x", 0},
        {u"//*", u"/x", -1},
        {u"", u"", 0},
        {u"", u"a", -1},
        {u"*", u"", 0},
        {u"a**", u"a", 0},
        {u"a?c", u"abc", 0},
        {u"a?c", u"ac", -1},
        {u"#.#", u"1.9", 0},
        {u"#", u"x", -1},
        {u"*.js", u"a.b.js", 0},  // goes back to the last "*"
        {u"*ab", u"aab", 0},
        {u"*b?d", u"abxbcd", 0},
        {u"abc", u"ab", -1},
        {u"ab", u"abc", -1},
        {u"[a-c]x", u"bx", 0},
        {u"[a-c]x", u"dx", -1},
        {u"[^a-c]x", u"dx", 0},
        {u"[^a-c]x", u"ax", -1},
        {u"[-+]1", u"-1", 0},  // a leading "-" is a member
        {u"[^-]1", u"-1", -1},
        {u"[c-a]", u"b", -1},  // a reversed range holds nothing
        {u"[a-]", u"-", 0},
        {u"*[0-9]", u"ab1", -1},  // a class does not go back to the "*"
        {u"x[ab", u"xa", 0},      // unterminated: ends at the pattern's end
        {u"x[ab", u"xc", -1},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const std::u16string text = cases[i].text;
        EXPECT_EQ(sciter::aux::wildcard_match(cases[i].pattern, text.c_str(), text.size()),
                  cases[i].answer);
    }
}

TEST(WildcardMatch, StopsAtTheLengthOrAZero) {
    const std::u16string text = u"res:page.html";
    EXPECT_EQ(sciter::aux::wildcard_match(u"res", text.c_str(), 3), 0);
    EXPECT_EQ(sciter::aux::wildcard_match(u"res:page", u"res:page\0tail", 13), 0);
}

TEST(WildcardCharClass, ParsesOneClassAndMovesPastIt) {
    std::bitset<65536> members;
    const char16_t* position = u"^a-c-]rest";
    sciter::aux::wildcard_char_class(members, position);
    EXPECT_EQ(std::u16string(position), u"rest");
    EXPECT_FALSE(members.test(u'a'));
    EXPECT_FALSE(members.test(u'b'));
    EXPECT_FALSE(members.test(u'-'));
    EXPECT_TRUE(members.test(u'd'));
    EXPECT_TRUE(members.test(0xFFFF));
}

}  // namespace
