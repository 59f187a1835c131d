#include <windows.h>

#include <platform/testing.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kGreeting = "Hello from a resource.";

std::string Content(HRSRC resource) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HGLOBAL loaded = LoadResource(module, resource);
    const auto* data = static_cast<const char*>(LockResource(loaded));
    return data == nullptr ? std::string() : std::string(data, SizeofResource(module, resource));
}

TEST(FindResourceW, FindsNamesAndNamedTypesWithoutRegardToCase) {
    const HMODULE module = GetModuleHandleW(nullptr);
    for (const auto& [name, type] :
         {std::pair{L"Greeting", L"Text"}, std::pair{L"GREETING", L"text"},
          std::pair{L"greeting", L"TeXt"}}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name) + L"/" + type));
        const HRSRC resource = FindResourceW(module, name, type);
        ASSERT_NE(resource, nullptr);
        EXPECT_EQ(Content(resource), kGreeting);
    }
    // A null module is the executable, as on Windows.
    EXPECT_NE(FindResourceW(nullptr, L"greeting", L"text"), nullptr);
}

TEST(FindResourceW, FindsIntegerNamesAndTypes) {
    const HRSRC resource = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(7), RT_RCDATA);
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(Content(resource), kGreeting);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(7), MAKEINTRESOURCEW(10)), resource);
}

TEST(FindResourceW, TellsAMissingTypeFromAMissingName) {
    struct Case {
        LPCWSTR name;
        LPCWSTR type;
        DWORD error;
    };
    const Case cases[] = {
        {L"Greeting", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},  // named vs integer name
        {L"7", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},         // a text is not an id
        {MAKEINTRESOURCEW(8), RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
        {L"Greeting", L"Texts", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {MAKEINTRESOURCEW(7), RT_ICON, ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        SetLastError(0);
        EXPECT_EQ(FindResourceW(GetModuleHandleW(nullptr), cases[i].name, cases[i].type), nullptr);
        EXPECT_EQ(GetLastError(), cases[i].error);
    }
}

TEST(FindResourceW, OtherModulesCarryNoResources) {
    const HMODULE kernel32 = LoadLibraryW(L"kernel32.dll");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(FindResourceW(kernel32, L"Greeting", L"Text"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    const HRSRC resource = FindResourceW(nullptr, L"Greeting", L"Text");
    EXPECT_EQ(LoadResource(kernel32, resource), nullptr);
    EXPECT_EQ(SizeofResource(kernel32, resource), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    FreeLibrary(kernel32);
}

TEST(FindResourceW, EachCallCanBeMadeToFail) {
    for (const char* call : {"FindResourceW", "LoadResource", "LockResource", "SizeofResource"}) {
        SCOPED_TRACE(call);
        platform::testing::FailCall(call, ERROR_NOT_ENOUGH_MEMORY, 1);
        const HRSRC resource = FindResourceW(nullptr, L"Greeting", L"Text");
        const std::string content = resource == nullptr ? std::string() : Content(resource);
        EXPECT_NE(content, kGreeting);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        EXPECT_EQ(Content(FindResourceW(nullptr, L"Greeting", L"Text")), kGreeting);  // once only
    }
}

}  // namespace
