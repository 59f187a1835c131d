#include "report/os_language.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

namespace {

struct LanguageRow {
    LCID lcid;
    const wchar_t* code;
};

// The locales the service knows by language; 0x200C and 0x3C0C are not among them.
constexpr LanguageRow kLanguages[] = {
    {0x0407, L"de"}, {0x0807, L"de"}, {0x0C07, L"de"}, {0x1007, L"de"}, {0x1407, L"de"},
    {0x040A, L"es"}, {0x080A, L"es"}, {0x0C0A, L"es"}, {0x100A, L"es"}, {0x140A, L"es"},
    {0x180A, L"es"}, {0x1C0A, L"es"}, {0x200A, L"es"}, {0x240A, L"es"}, {0x280A, L"es"},
    {0x2C0A, L"es"}, {0x300A, L"es"}, {0x340A, L"es"}, {0x380A, L"es"}, {0x3C0A, L"es"},
    {0x400A, L"es"}, {0x440A, L"es"}, {0x480A, L"es"}, {0x4C0A, L"es"}, {0x500A, L"es"},
    {0x040C, L"fr"}, {0x080C, L"fr"}, {0x0C0C, L"fr"}, {0x100C, L"fr"}, {0x140C, L"fr"},
    {0x180C, L"fr"}, {0x1C0C, L"fr"}, {0x240C, L"fr"}, {0x280C, L"fr"}, {0x2C0C, L"fr"},
    {0x300C, L"fr"}, {0x340C, L"fr"}, {0x380C, L"fr"}, {0x0462, L"fr"}, {0x0410, L"it"},
    {0x0810, L"it"}, {0x0416, L"pt"}, {0x0816, L"pt"}, {0x0419, L"ru"}, {0x0819, L"ru"},
    {0x0411, L"ja"},
};

}  // namespace

std::wstring GetOsLanguage() {
    const LCID lcid = GetUserDefaultLCID();
    const auto found = std::find_if(std::begin(kLanguages), std::end(kLanguages),
                                    [lcid](const LanguageRow& row) { return row.lcid == lcid; });
    return found == std::end(kLanguages) ? L"en" : found->code;
}
