// The stand-in engine's own behaviour, through the table the program gets from SAPI.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "engine_stand_in/options.h"
#include "engine_stand_in/value.h"
#include "sciter/sapi.h"

namespace {

using engine_stand_in::LiveValueCount;
using engine_stand_in::Value;

std::u16string Converted(const Value& v) {
    Value copy(v);
    EXPECT_EQ(SAPI()->ValueToString(copy.slot(), CVT_SIMPLE), HV_OK);
    EXPECT_EQ(copy.type(), T_STRING);
    return copy.Text();
}

TEST(StandInValueToString, WritesNumbersAsJavaScriptsStringDoes) {
    struct Case {
        double number;
        const char16_t* text;
    };
    const Case cases[] = {
        {0.0, u"0"},
        {-0.0, u"0"},
        {100, u"100"},
        {-2.25, u"-2.25"},
        {0.1 + 0.2, u"0.30000000000000004"},
        {123456789012345680000.0, u"123456789012345680000"},
        {1e21, u"1e+21"},
        {0.000001, u"0.000001"},
        {1e-7, u"1e-7"},
        {1.5e-10, u"1.5e-10"},
        {1.7976931348623157e308, u"1.7976931348623157e+308"},
        {5e-324, u"5e-324"},
        {std::numeric_limits<double>::quiet_NaN(), u"NaN"},
        {std::numeric_limits<double>::infinity(), u"Infinity"},
        {-std::numeric_limits<double>::infinity(), u"-Infinity"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(Converted(Value::Float(c.number)), c.text);
    }
}

TEST(StandInValueToString, WritesOtherValuesAsJavaScriptsStringDoes) {
    Value array;
    const Value elements[] = {Value::Integer(1), Value(), Value::String(u"x"), Value::Null(),
                              Value::Boolean(false)};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(SAPI()->ValueNthElementValueSet(array.slot(), i, &elements[i].raw()), HV_OK);
    }
    Value with_hole;
    const Value seven = Value::Integer(7);
    SAPI()->ValueNthElementValueSet(with_hole.slot(), 1, &seven.raw());

    struct Case {
        const char* name;
        Value value;
        const char16_t* text;
    };
    const Case cases[] = {
        {"undefined", Value(), u"undefined"},
        {"null", Value::Null(), u"null"},
        {"booleans", Value::Boolean(true), u"true"},
        {"integer", Value::Integer(-17), u"-17"},
        {"string stays", Value::String(u"text"), u"text"},
        {"array", array, u"1,,x,,false"},
        {"array with a hole", with_hole, u",7"},
        {"object", Value::Object(), u"[object Object]"},
        {"function", Value::Function([](const auto&) { return Value(); }),
         u"function () { [native code] }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Converted(c.value), c.text);
    }
    EXPECT_EQ(SAPI()->ValueToString(array.slot(), 1), HV_BAD_PARAMETER);
}

TEST(StandInValues, SetsStringsBooleansAndElements) {
    Value v;
    const std::u16string text(u"a\0b", 3);
    ASSERT_EQ(SAPI()->ValueStringDataSet(v.slot(), text.data(), 3, UT_STRING_ERROR), HV_OK);
    const char16_t* chars = nullptr;
    UINT length = 0;
    ASSERT_EQ(SAPI()->ValueStringData(&v.raw(), &chars, &length), HV_OK);
    EXPECT_EQ(std::u16string(chars, length), text);
    EXPECT_EQ(v.units(), 1u);

    // Set from its own characters: copied before the old string goes.
    ASSERT_EQ(SAPI()->ValueStringDataSet(v.slot(), chars, 1, 0), HV_OK);
    EXPECT_EQ(v.Text(), u"a");

    ASSERT_EQ(SAPI()->ValueIntDataSet(v.slot(), 1, T_BOOL, 0), HV_OK);
    EXPECT_EQ(v.type(), T_BOOL);
    EXPECT_EQ(v.Text(), u"true");
    EXPECT_EQ(SAPI()->ValueStringData(&v.raw(), &chars, &length), HV_INCOMPATIBLE_TYPE);
    EXPECT_EQ(SAPI()->ValueNthElementValueSet(v.slot(), 0, &v.raw()), HV_INCOMPATIBLE_TYPE);
}

TEST(StandInValues, InvokesANativeFunctionWithItsArguments) {
    const std::size_t live = LiveValueCount();
    {
        std::vector<std::u16string> seen;
        const Value function = Value::Function([&](const std::vector<Value>& arguments) {
            for (const auto& argument : arguments) {
                seen.push_back(argument.Text());
            }
            return Value::String(u"done");
        });
        const Value arguments[] = {Value::String(u"German"), Value::Integer(3)};
        const VALUE argv[] = {arguments[0].raw(), arguments[1].raw()};
        Value self;
        Value result;
        EXPECT_EQ(
            SAPI()->ValueInvoke(&function.raw(), self.slot(), 2, argv, result.slot(), nullptr),
            HV_OK);
        EXPECT_EQ(seen, (std::vector<std::u16string>{u"German", u"3"}));
        EXPECT_EQ(result.Text(), u"done");

        const Value throwing =
            Value::Function([](const auto&) -> Value { throw std::runtime_error("script error"); });
        EXPECT_NE(
            SAPI()->ValueInvoke(&throwing.raw(), self.slot(), 0, nullptr, result.slot(), nullptr),
            HV_OK);
        EXPECT_EQ(SAPI()->ValueInvoke(&self.raw(), self.slot(), 0, nullptr, result.slot(), nullptr),
                  HV_INCOMPATIBLE_TYPE);
    }
    EXPECT_EQ(LiveValueCount(), live);
}

TEST(StandInValues, CountsLiveContentsUntilTheLastHolderGoes) {
    const std::size_t live = LiveValueCount();
    Value array;
    {
        const Value text = Value::String(u"kept");
        SAPI()->ValueNthElementValueSet(array.slot(), 3, &text.raw());
        EXPECT_EQ(LiveValueCount(), live + 2);
    }
    EXPECT_EQ(LiveValueCount(), live + 2);  // the array still holds the string
    SAPI()->ValueClear(array.slot());
    EXPECT_EQ(LiveValueCount(), live);
    EXPECT_EQ(array.type(), T_UNDEFINED);
}

TEST(StandInOptions, RecordsEveryOptionInOrder) {
    const std::size_t before = engine_stand_in::RecordedOptions().size();
    SAPI()->SciterSetOption(nullptr, SCITER_SET_UX_THEMING, 1);
    SAPI()->SciterSetOption(nullptr, SCITER_SET_SCRIPT_RUNTIME_FEATURES, 15);
    const auto options = engine_stand_in::RecordedOptions();
    ASSERT_EQ(options.size(), before + 2);
    EXPECT_EQ(options[before].option, 11u);
    EXPECT_EQ(options[before].value, 1u);
    EXPECT_EQ(options[before + 1].option, 8u);
    EXPECT_EQ(options[before + 1].value, 15u);
}

TEST(StandInAtoms, AreStablePerName) {
    const som_atom_t on = SAPI()->SciterAtomValue("on");
    EXPECT_NE(on, 0u);
    EXPECT_EQ(SAPI()->SciterAtomValue("on"), on);
    EXPECT_NE(SAPI()->SciterAtomValue("On"), on);
}

}  // namespace
