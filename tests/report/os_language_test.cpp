#include "report/os_language.h"

#include <platform/testing.h>

#include <gtest/gtest.h>

namespace {

TEST(GetOsLanguage, MapsTheUsersLocaleIdentifier) {
    struct Case {
        LCID lcid;
        const wchar_t* language;
    };
    constexpr Case kCases[] = {
        {0x0407, L"de"}, {0x1407, L"de"}, {0x040A, L"es"}, {0x500A, L"es"},
        {0x040C, L"fr"}, {0x0C0C, L"fr"}, {0x380C, L"fr"}, {0x0462, L"fr"},
        {0x200C, L"en"}, {0x3C0C, L"en"},  // French locales the table leaves out
        {0x0410, L"it"}, {0x0810, L"it"}, {0x0416, L"pt"}, {0x0816, L"pt"},
        {0x0419, L"ru"}, {0x0819, L"ru"}, {0x0411, L"ja"}, {0x0409, L"en"},
        {0x0809, L"en"}, {0x0000, L"en"}, {0x0413, L"en"},
    };
    for (std::size_t index = 0; index < std::size(kCases); ++index) {
        SCOPED_TRACE(index);
        platform::testing::SetUserDefaultLCID(kCases[index].lcid);
        EXPECT_EQ(GetOsLanguage(), kCases[index].language);
    }
    platform::testing::Reset();
}

}  // namespace
