#include <win_error.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <system_error>

namespace {

constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

TEST(FormatMessageW, GivesWindowsTextsForErrorNumbersAndHresults) {
    struct Case {
        DWORD number;
        const wchar_t* text;
    };
    const Case cases[] = {
        {ERROR_SUCCESS, L"The operation completed successfully.\r\n"},
        {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified.\r\n"},
        {ERROR_PATH_NOT_FOUND, L"The system cannot find the path specified.\r\n"},
        {static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)),
         L"The system cannot find the path specified.\r\n"},
        {ERROR_ACCESS_DENIED, L"Access is denied.\r\n"},
        {ERROR_SHARING_VIOLATION,
         L"The process cannot access the file because it is being used by another process.\r\n"},
        {static_cast<DWORD>(E_INVALIDARG), L"The parameter is incorrect.\r\n"},
        {static_cast<DWORD>(E_FAIL), L"Unspecified error\r\n"},
        {ERROR_CALL_NOT_IMPLEMENTED, L"This function is not supported on this system.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        std::array<wchar_t, 256> buffer{};
        const DWORD length = FormatMessageW(kFlags, nullptr, c.number, 0, buffer.data(),
                                            static_cast<DWORD>(buffer.size()), nullptr);
        EXPECT_EQ(std::wstring(buffer.data(), length), c.text);
        EXPECT_EQ(buffer[length], L'\0');
    }
}

TEST(FormatMessageW, FailsAsWindowsDoes) {
    std::array<wchar_t, 256> buffer{};
    // A number without a text.
    EXPECT_EQ(FormatMessageW(kFlags, nullptr, 0xDEAD, 0, buffer.data(), 256, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    // "Access is denied.\r\n" and its terminator need 20 characters.
    EXPECT_EQ(FormatMessageW(kFlags, nullptr, ERROR_ACCESS_DENIED, 0, buffer.data(), 19, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(FormatMessageW(kFlags, nullptr, ERROR_ACCESS_DENIED, 0, buffer.data(), 20, nullptr),
              19u);
    // Only the system's messages are offered.
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED, 0,
                             buffer.data(), 256, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The category the program formats Windows error numbers with: Windows' texts where the C
// library's category would give errno's ("Input/output error" for 5, "Too many users" for 87).
TEST(WinErrorCategory, GivesWindowsTextsWithoutTheLineEnd) {
    const auto& category = win_error::system_category();
    EXPECT_STREQ(category.name(), "system");
    struct Case {
        DWORD number;
        const char* text;
    };
    const Case cases[] = {
        {ERROR_ACCESS_DENIED, "Access is denied."},
        {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
        {1312, "A specified logon session does not exist. It may already have been terminated."},
        {static_cast<DWORD>(E_FAIL), "Unspecified error"},
        {0xDEAD, "unknown error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(category.message(static_cast<int>(c.number)), c.text);
        const std::system_error error(static_cast<int>(c.number), category, "failed");
        EXPECT_EQ(std::string(error.what()), std::string("failed: ") + c.text);
    }
}

}  // namespace
