#include "sciter/value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine_stand_in/value.h"
#include "sciter/aux.h"
#include "sciter/sapi.h"

namespace {

std::u16string UnitsOf(const VALUE& v) {
    const char16_t* chars = nullptr;
    UINT length = 0;
    EXPECT_EQ(SAPI()->ValueStringData(&v, &chars, &length), HV_OK);
    return std::u16string(chars, length);
}

TEST(MakeString, DecodesUtf8IntoUtf16UnitsAsTheEngineExpects) {
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string units;
    };
    const Case cases[] = {
        {"byte-order mark at the start is dropped",
         "\xEF\xBB\xBF"
         "A",
         u"A"},
        {"byte-order mark later is kept", "A\xEF\xBB\xBF", u"A\uFEFF"},
        {"four bytes give a surrogate pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
        {"stray continuation byte",
         "A\x80"
         "B",
         u"A?B"},
        {"bad lead byte",
         "\xF8"
         "A",
         u"?A"},
        {"two-byte sequence cut off", "A\xC3", u"A?"},
        {"four-byte sequence cut off", "A\xF0\x9F\x98", u"A?"},
        {"NUL ends the input", std::string("ab\0cd", 5), u"ab"},
        {"two and three bytes", "\xC3\xA9\xE2\x82\xAC", u"\u00E9\u20AC"},
        {"empty", "", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const sciter::value v = sciter::value::make_string(c.bytes);
        EXPECT_EQ(v.type(), T_STRING);
        EXPECT_EQ(v.units(), 0xFFFFu);
        EXPECT_EQ(UnitsOf(v), c.units);
    }
}

TEST(MakeString, FillsTheBufferToTheBrimAndBeyond) {
    const std::string text(256, 'a');  // the terminator needs the buffer to grow
    EXPECT_EQ(UnitsOf(sciter::value::make_string(text)), std::u16string(256, u'a'));
    EXPECT_EQ(UnitsOf(sciter::value::make_string(text + text)).size(), 512u);
}

TEST(Utf8ToWchars, TellsWhetherAnyByteWasReplaced) {
    struct Case {
        const char* name;
        std::string bytes;
        bool clean;
    };
    const Case cases[] = {
        {"ASCII", "abc", true},
        {"byte-order mark", "\xEF\xBB\xBF", true},
        {"stray continuation byte", "a\x80", false},
        {"cut-off two-byte sequence", "a\xC3", false},
        {"cut-off three-byte sequence", "a\xE2\x82", false},
        // The engine's own rule: a cut-off four-byte sequence alone leaves the result true.
        {"cut-off four-byte sequence", "a\xF0\x9F\x98", true},
        {"cut-off four-byte lead alone", "a\xF0", true},
        {"bad byte, then a cut-off four-byte sequence",
         "\x80"
         "a\xF0\x9F",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sciter::aux::utf16_buffer buffer;
        EXPECT_EQ(sciter::aux::utf8_to_wchars(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                                              c.bytes.size(), buffer),
                  c.clean);
    }
    sciter::aux::utf16_buffer buffer;
    EXPECT_TRUE(sciter::aux::utf8_to_wchars(nullptr, 5, buffer));
    EXPECT_TRUE(buffer.empty());
}

TEST(Utf16Buffer, GrowsByHalfItsCapacity) {
    sciter::aux::utf16_buffer buffer;
    EXPECT_EQ(buffer.capacity(), 256u);
    std::vector<std::size_t> capacities;
    for (int i = 0; i < 600; ++i) {
        buffer.push(static_cast<char16_t>(u'a' + i % 26));
        if (capacities.empty() || capacities.back() != buffer.capacity()) {
            capacities.push_back(buffer.capacity());
        }
    }
    EXPECT_EQ(capacities, (std::vector<std::size_t>{256, 384, 576, 864}));
    EXPECT_EQ(buffer.length(), 600u);
    EXPECT_EQ(buffer.data()[599], static_cast<char16_t>(u'a' + 599 % 26));
}

TEST(MakeError, IsAnErrorStringWithTheMessage) {
    const sciter::value error = sciter::value::make_error("no language");
    EXPECT_EQ(error.type(), T_STRING);
    EXPECT_EQ(error.units(), 1u);
    EXPECT_EQ(error.to_string(), L"no language");
    EXPECT_EQ(UnitsOf(sciter::value::make_error("caf\xC3\xA9 \xF0\x9F\x98\x80")),
              u"caf\u00E9 \xD83D\xDE00");
    EXPECT_EQ(sciter::value::make_error(nullptr).type(), T_UNDEFINED);
}

TEST(ToString, GivesAStringsUnitsAndTheEnginesTextForTheRest) {
    using engine_stand_in::Value;
    struct Case {
        const char* name;
        Value value;
        std::wstring text;
    };
    const Case cases[] = {
        {"string", Value::String(u"abc"), L"abc"},
        {"embedded NUL", Value::String(std::u16string(u"a\0b", 3)), std::wstring(L"a\0b", 3)},
        {"surrogate pair", Value::String(u"\xD83D\xDE00"), L"\U0001F600"},
        {"error string", Value::String(u"failed", UT_STRING_ERROR), L"failed"},
        {"integer", Value::Integer(-42), L"-42"},
        {"float", Value::Float(1.5), L"1.5"},
        {"boolean", Value::Boolean(true), L"true"},
        {"undefined", Value(), L"undefined"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const sciter::value v(c.value.raw());
        EXPECT_EQ(v.to_string(), c.text);
        EXPECT_EQ(v.type(), c.value.type());  // left as it was
    }
}

TEST(Value, CopiesAndClearsThroughTheEngine) {
    const std::size_t live = engine_stand_in::LiveValueCount();
    {
        sciter::value a = sciter::value::make_string("shared");
        sciter::value b;
        b = a;
        const sciter::value c(b);
        EXPECT_EQ(engine_stand_in::LiveValueCount(), live + 1);  // one string, three holders
        EXPECT_EQ(c.to_string(), L"shared");
        a.clear();
        EXPECT_EQ(a.type(), T_UNDEFINED);
        EXPECT_EQ(b.to_string(), L"shared");
    }
    EXPECT_EQ(engine_stand_in::LiveValueCount(), live);
}

}  // namespace
