#include "report/file_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

TEST(IsBareFileName, OnlyANameThatStaysInsideItsFolder) {
    const struct {
        std::wstring name;
        bool bare;
    } cases[] = {
        {L"5d1f7c2a-0b3e-4e8f-9a61-2c4b7d9e0f13", true},
        {L"app.log", true},
        {L"..log", true},
        {L"журнал déjà.log", true},
        {L"", false},
        {L".", false},
        {L"..", false},
        {L"a/b", false},
        {L"/abs", false},
        {L"a\\b", false},
        {L"..\\..\\x", false},
        {L"C:x", false},
        {L"file:stream", false},
        {L"line\nbreak", false},
        {std::wstring(L"nul\0x", 5), false},
        {L"del\x7f", false},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::Message() << "case of " << each.name.size() << " units");
        EXPECT_EQ(IsBareFileName(each.name), each.bare);
        // The UTF-8 form of the same name (ASCII cases) answers alike.
        if (std::all_of(each.name.begin(), each.name.end(), [](wchar_t c) { return c < 0x80; })) {
            const std::string narrow(each.name.begin(), each.name.end());
            EXPECT_EQ(IsBareFileName(narrow), each.bare);
        }
    }
}

}  // namespace
