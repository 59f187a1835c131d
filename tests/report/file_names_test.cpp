#include "report/file_names.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text_conversion.h"

namespace {

// Each rule at both sides of its border; the UTF-8 form of every name answers alike.
TEST(IsBareFileName, OnlyANameThatStaysInsideItsFolder) {
    const struct {
        std::wstring name;
        bool bare;
    } cases[] = {
        {L"5d1f7c2a-0b3e-4e8f-9a61-2c4b7d9e0f13", true},
        {L"app.log", true},
        // Empty, "." and "..", and the names next to them.
        {L"", false},
        {L"a", true},
        {L".", false},
        {L"..", false},
        {L"...", true},
        {L"..log", true},
        {L".a", true},
        {L"a.", true},
        // Separators, drive and stream colons.
        {L"a/b", false},
        {L"/abs", false},
        {L"a\\b", false},
        {L"..\\..\\x", false},
        {L"C:x", false},
        {L"file:stream", false},
        // Control characters end at 0x1F; DEL is one too, and what follows it is not.
        {std::wstring(L"nul\0x", 5), false},
        {L"a\x01", false},
        {L"line\nbreak", false},
        {L"a\x1F", false},
        {L"a\x20", true},
        {L"a b", true},
        {L"a~", true},
        {L"del\x7F", false},
        {L"a\x80", true},
        {L"a\xA0", true},
        // Outside ASCII: every byte of the UTF-8 form lies at 0x80 or above.
        {L"журнал déjà.log", true},
        {L"日志.txt", true},
        {L"\U0001F600.log", true},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::Message() << "case \"" << Utf16ToUtf8(each.name) << "\" of "
                                        << each.name.size() << " units");
        EXPECT_EQ(IsBareFileName(each.name), each.bare);
        const std::string narrow = each.name.find(L'\0') == std::wstring::npos
                                       ? Utf16ToUtf8(each.name)
                                       : std::string(each.name.begin(), each.name.end());
        EXPECT_EQ(IsBareFileName(narrow), each.bare);
    }
}

}  // namespace
