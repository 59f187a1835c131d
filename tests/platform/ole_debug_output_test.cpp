#include <ole2.h>
#include <platform/testing.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class OleAndDebugOutput : public ::testing::Test {
protected:
    void SetUp() override { platform::testing::Reset(); }
    void TearDown() override { platform::testing::Reset(); }
};

TEST_F(OleAndDebugOutput, OleInitializeIsCountedAndPairedWithUninitialize) {
    using platform::testing::OleCallCounts;
    OleUninitialize();  // nothing to undo yet
    EXPECT_EQ(OleCallCounts().uninitialize, 0);

    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
    int reserved = 0;
    EXPECT_EQ(OleInitialize(&reserved), E_INVALIDARG);
    EXPECT_EQ(OleCallCounts().initialize, 2);
    OleUninitialize();
    OleUninitialize();
    OleUninitialize();
    EXPECT_EQ(OleCallCounts().uninitialize, 2);
    EXPECT_EQ(OleInitialize(nullptr), S_OK) << "back to the first call";

    platform::testing::FailCall("OleInitialize", ERROR_NOT_ENOUGH_MEMORY, 1);
    EXPECT_EQ(OleInitialize(nullptr), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(OleCallCounts().initialize, 3);
}

TEST_F(OleAndDebugOutput, DebugStringsGoToStandardErrorAsTheyAreAndAreRecorded) {
    ::testing::internal::CaptureStderr();
    OutputDebugStringA("info:");
    OutputDebugStringA("DOM: ");
    OutputDebugStringW(L"caf\u00e9 \U0001F600\n");
    OutputDebugStringA(nullptr);
    OutputDebugStringW(nullptr);
    OutputDebugStringA("");
    const std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, "info:DOM: caf\xc3\xa9 \xf0\x9f\x98\x80\n");
    EXPECT_EQ(platform::testing::DebugOutput(),
              (std::vector<std::string>{"info:", "DOM: ", "caf\xc3\xa9 \xf0\x9f\x98\x80\n", ""}));
    platform::testing::Reset();
    EXPECT_TRUE(platform::testing::DebugOutput().empty());
}

}  // namespace
