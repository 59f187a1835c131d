#include "src/message_pump.h"

#include <gtest/gtest.h>
#include <platform/testing.h>
#include <platform/window_registry.h>

namespace {

class MessagePump : public ::testing::Test {
protected:
    MessagePump() { platform::testing::Reset(); }
    ~MessagePump() override { platform::testing::Reset(); }
};

TEST_F(MessagePump, DispatchesUntilQuitAndAnswersItsCode) {
    std::vector<UINT> seen;
    const HWND window = platform::CreatePlatformWindow(
        [&](HWND, UINT message, WPARAM, LPARAM) {
            seen.push_back(message);
            if (message == WM_USER + 1) {
                PostQuitMessage(7);
            }
            return LRESULT{0};
        },
        RECT{0, 0, 10, 10});
    PostMessageW(window, WM_USER, 0, 0);
    PostMessageW(window, WM_USER + 1, 0, 0);
    EXPECT_EQ(RunMessagePump(), 7);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER, WM_USER + 1}));
    DestroyWindow(window);
}

TEST_F(MessagePump, EndsWhenGetMessageFails) {
    platform::testing::FailCall("GetMessageW", ERROR_INVALID_PARAMETER, 1);
    EXPECT_EQ(RunMessagePump(), -1);
}

}  // namespace
