#include <platform/testing.h>
#include <platform/window_registry.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

struct Delivery {
    HWND window;
    UINT message;
    WPARAM wparam;

    bool operator==(const Delivery&) const = default;
};

// Windows whose procedures record every message they get, in one shared list.
class MessageQueue : public ::testing::Test {
protected:
    void SetUp() override { platform::testing::Reset(); }
    void TearDown() override { platform::testing::Reset(); }

    HWND MakeWindow(LRESULT answer = 0) {
        return platform::CreatePlatformWindow(
            [this, answer](HWND window, UINT message, WPARAM wparam, LPARAM) {
                deliveries.push_back({window, message, wparam});
                return answer;
            },
            RECT{0, 0, 100, 100});
    }

    // The program's pump: until WM_QUIT, answering its wParam.
    static int Pump() {
        MSG message{};
        while (GetMessageW(&message, nullptr, 0, 0)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return static_cast<int>(message.wParam);
    }

    std::vector<Delivery> deliveries;
};

TEST_F(MessageQueue, DeliversPostedMessagesInOrderToTheirOwnWindows) {
    const HWND first = MakeWindow(11);
    const HWND second = MakeWindow(22);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, second);
    ASSERT_TRUE(PostMessageW(second, WM_USER, 1, 0));
    ASSERT_TRUE(PostMessageW(first, WM_USER, 2, 0));
    ASSERT_TRUE(PostMessageW(nullptr, WM_APP, 3, 0));  // to the thread, no window
    ASSERT_TRUE(PostMessageW(second, WM_KEYDOWN, VK_F5, 0));

    const std::vector<std::pair<HWND, LRESULT>> expected_results = {
        {second, 22}, {first, 11}, {nullptr, 0}, {second, 22}};
    for (const auto& [window, result] : expected_results) {
        MSG message{};
        ASSERT_EQ(GetMessageW(&message, nullptr, 0, 0), 1);
        EXPECT_EQ(message.hwnd, window);
        EXPECT_EQ(DispatchMessageW(&message), result);
    }
    EXPECT_EQ(deliveries,
              (std::vector<Delivery>{
                  {second, WM_USER, 1}, {first, WM_USER, 2}, {second, WM_KEYDOWN, VK_F5}}));
    MSG left{};
    EXPECT_FALSE(PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueue, QuitEndsGetMessageWithItsExitCodeAfterThePostedMessages) {
    constexpr int kExitCodes[] = {0, 3, -1};
    for (const int code : kExitCodes) {
        SCOPED_TRACE(code);
        deliveries.clear();
        const HWND window = MakeWindow();
        PostMessageW(window, WM_USER, 1, 0);
        PostQuitMessage(code);
        PostMessageW(window, WM_USER, 2, 0);  // still ahead of the quit message
        EXPECT_EQ(Pump(), code);
        EXPECT_EQ(deliveries, (std::vector<Delivery>{{window, WM_USER, 1}, {window, WM_USER, 2}}));
        MSG left{};
        EXPECT_FALSE(PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) << "quit is taken once";
        DestroyWindow(window);
    }
}

TEST_F(MessageQueue, ClosingThroughTheDefaultProcedureDestroysOnceAndEndsTheLoop) {
    int destroyed = 0;
    const HWND window = platform::CreatePlatformWindow(
        [&](HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
            if (message == WM_DESTROY) {
                ++destroyed;
                EXPECT_TRUE(IsWindow(hwnd)) << "still a window while WM_DESTROY runs";
                EXPECT_TRUE(DestroyWindow(hwnd)) << "a nested destroy does nothing";
                PostQuitMessage(5);
                return 0;
            }
            return DefWindowProcW(hwnd, message, wparam, lparam);
        },
        RECT{});
    ShowWindow(window, SW_SHOW);
    PostMessageW(window, WM_CLOSE, 0, 0);
    PostMessageW(window, WM_USER, 0, 0);  // queued for a window that will be gone
    EXPECT_EQ(Pump(), 5);
    EXPECT_EQ(destroyed, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(platform::testing::WindowsInZOrder().empty());
}

TEST_F(MessageQueue, MessagesForADestroyedWindowAreNotDispatched) {
    const HWND window = MakeWindow(9);
    ASSERT_TRUE(PostMessageW(window, WM_USER, 1, 0));
    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_EQ(deliveries, (std::vector<Delivery>{{window, WM_DESTROY, 0}}));

    MSG message{};
    ASSERT_EQ(GetMessageW(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(DispatchMessageW(&message), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    EXPECT_FALSE(PostMessageW(window, WM_USER, 2, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageW(window, WM_USER, 3, 0), 0);
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(deliveries.size(), 1U) << "the procedure heard nothing after WM_DESTROY";

    EXPECT_NE(MakeWindow(), window) << "a handle is not handed out again";
}

TEST_F(MessageQueue, FiltersSelectByWindowAndRangeButNeverHoldBackQuit) {
    const HWND first = MakeWindow();
    const HWND second = MakeWindow();
    PostMessageW(first, WM_USER, 1, 0);
    PostMessageW(nullptr, WM_USER, 2, 0);
    PostMessageW(second, WM_KEYDOWN, 3, 0);
    PostMessageW(second, WM_USER, 4, 0);

    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, second, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.wParam, 3U) << "left in the queue";
    ASSERT_EQ(GetMessageW(&message, second, WM_USER, WM_USER), 1);
    EXPECT_EQ(message.wParam, 4U);
    ASSERT_EQ(GetMessageW(&message, reinterpret_cast<HWND>(-1), 0, 0), 1);
    EXPECT_EQ(message.wParam, 2U);
    ASSERT_EQ(GetMessageW(&message, second, 0, 0), 1);
    EXPECT_EQ(message.wParam, 3U);

    PostQuitMessage(8);
    ASSERT_EQ(GetMessageW(&message, second, WM_USER, WM_USER), 0);
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 8U);
    ASSERT_EQ(GetMessageW(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.wParam, 1U);

    EXPECT_EQ(GetMessageW(nullptr, nullptr, 0, 0), -1);
    EXPECT_EQ(GetMessageW(&message, reinterpret_cast<HWND>(0x4), 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(MessageQueue, TranslateCountsKeyMessagesAndPostsNothing) {
    struct Case {
        UINT message;
        BOOL translated;
    };
    constexpr Case kCases[] = {{WM_KEYDOWN, TRUE},  {WM_KEYUP, TRUE},  {WM_SYSKEYDOWN, TRUE},
                               {WM_SYSKEYUP, TRUE}, {WM_CLOSE, FALSE}, {WM_CHAR, FALSE}};
    for (const auto& [number, translated] : kCases) {
        SCOPED_TRACE(number);
        const MSG message{nullptr, number, 'A', 0, 0, {0, 0}};
        EXPECT_EQ(TranslateMessage(&message), translated);
        MSG posted{};
        EXPECT_FALSE(PeekMessageW(&posted, nullptr, 0, 0, PM_REMOVE));
    }
    EXPECT_FALSE(TranslateMessage(nullptr));
}

// The scenario driver's way in: one step per idle moment, each step's messages handled first.
TEST_F(MessageQueue, IdleHandlerRunsStepsBetweenMessagesAndIsNotReentered) {
    const HWND window = MakeWindow();
    std::vector<int> steps_seen_by_window;
    int step = 0;
    int nested_results = 0;
    platform::SetIdleHandler([&]() -> bool {
        ++step;
        steps_seen_by_window.push_back(static_cast<int>(deliveries.size()));
        switch (step) {
            case 1:
                PostMessageW(window, WM_USER, 1, 0);
                return true;
            case 2:
                return true;  // did something without posting: asked again at once
            case 3: {
                // A nested loop (a modal box) inside a step: the handler is not run again there.
                PostMessageW(window, WM_USER, 3, 0);
                PostQuitMessage(0);
                MSG message{};
                while (GetMessageW(&message, nullptr, 0, 0) > 0) {
                    DispatchMessageW(&message);
                    ++nested_results;
                }
                PostMessageW(window, WM_CLOSE, 0, 0);
                return true;
            }
            default:
                PostQuitMessage(42);
                return true;
        }
    });
    EXPECT_EQ(Pump(), 42);
    EXPECT_EQ(step, 4);
    EXPECT_EQ(nested_results, 1);
    EXPECT_EQ(steps_seen_by_window, (std::vector<int>{0, 1, 1, 3}));
    EXPECT_EQ(deliveries, (std::vector<Delivery>{
                              {window, WM_USER, 1}, {window, WM_USER, 3}, {window, WM_CLOSE, 0}}));
    platform::SetIdleHandler(nullptr);
}

TEST_F(MessageQueue, PostsFromAnotherThreadWakeTheOwnersWaitingLoop) {
    const HWND window = MakeWindow();
    platform::SetIdleHandler([] { return false; });  // nothing to do: GetMessageW waits
    std::thread poster([window] {
        EXPECT_TRUE(PostMessageW(window, WM_USER, 7, 0));
        EXPECT_EQ(SendMessageW(window, WM_USER, 8, 0), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_FALSE(DestroyWindow(window));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
    });
    MSG message{};
    ASSERT_EQ(GetMessageW(&message, nullptr, 0, 0), 1);
    DispatchMessageW(&message);
    poster.join();
    ASSERT_EQ(GetMessageW(&message, nullptr, 0, 0), 1);
    DispatchMessageW(&message);
    EXPECT_EQ(deliveries, (std::vector<Delivery>{{window, WM_USER, 7}, {window, WM_CLOSE, 0}}));
    EXPECT_EQ(SendMessageW(window, WM_USER, 9, 0), 0);
    EXPECT_EQ(deliveries.back(), (Delivery{window, WM_USER, 9})) << "sent on its own thread";
    EXPECT_TRUE(IsWindow(window));
    platform::SetIdleHandler(nullptr);
}

TEST_F(MessageQueue, AThreadThatEndsTakesItsWindowsWithIt) {
    HWND orphan = nullptr;
    std::thread([&] {
        orphan =
            platform::CreatePlatformWindow([](HWND, UINT, WPARAM, LPARAM) { return 0; }, RECT{});
        EXPECT_TRUE(IsWindow(orphan));
    }).join();
    ASSERT_NE(orphan, nullptr);
    EXPECT_FALSE(IsWindow(orphan));
    EXPECT_FALSE(PostMessageW(orphan, WM_USER, 0, 0));
}

TEST_F(MessageQueue, WindowCreationAndPostingReportFailures) {
    EXPECT_EQ(platform::CreatePlatformWindow(nullptr, RECT{}), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    platform::testing::FailCall("CreatePlatformWindow", ERROR_NOT_ENOUGH_MEMORY, 1);
    EXPECT_EQ(MakeWindow(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    const HWND window = MakeWindow();
    platform::testing::FailCall("PostMessageW", ERROR_NOT_ENOUGH_MEMORY, 1);
    EXPECT_FALSE(PostMessageW(window, WM_USER, 0, 0));
    MSG message{};
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "nothing was queued";
}

}  // namespace
