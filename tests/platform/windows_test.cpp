#include <platform/testing.h>
#include <platform/window_registry.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

// Found by argument lookup: RECT lives in the global namespace.
static bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
static void PrintTo(const RECT& rect, std::ostream* out) {
    *out << "{" << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom
         << "}";
}

namespace {

class WindowGeometry : public ::testing::Test {
protected:
    void SetUp() override { platform::testing::Reset(); }
    void TearDown() override { platform::testing::Reset(); }

    static HWND MakeWindow(const RECT& frame) {
        return platform::CreatePlatformWindow([](HWND, UINT, WPARAM, LPARAM) { return 0; }, frame);
    }
    static RECT RectOf(HWND window) {
        RECT rect{};
        EXPECT_TRUE(GetWindowRect(window, &rect));
        return rect;
    }
};

TEST_F(WindowGeometry, SetWindowPosMovesAndSizesAsItsFlagsSay) {
    struct Case {
        const char* name;
        int x, y, cx, cy;
        UINT flags;
        RECT expected;
        bool visible;
    };
    // Every case starts from a hidden 560 x 540 window at (10, 20).
    const Case kCases[] = {
        {"move and size", 680, 270, 300, 200, 0, {680, 270, 980, 470}, false},
        {"move only", 680, 270, 1, 1, SWP_NOSIZE, {680, 270, 1240, 810}, false},
        {"size only", 999, 999, 300, 200, SWP_NOMOVE, {10, 20, 310, 220}, false},
        {"neither, shown",
         0,
         0,
         0,
         0,
         SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW,
         {10, 20, 570, 560},
         true},
        {"negative size is empty", -5, -6, -1, -1, 0, {-5, -6, -5, -6}, false},
        {"ignored flags",
         1,
         2,
         3,
         4,
         SWP_NOACTIVATE | SWP_NOREDRAW | SWP_FRAMECHANGED,
         {1, 2, 4, 6},
         false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const HWND window = MakeWindow({10, 20, 570, 560});
        EXPECT_EQ(RectOf(window), (RECT{10, 20, 570, 560}));
        EXPECT_TRUE(SetWindowPos(window, HWND_TOP, c.x, c.y, c.cx, c.cy, c.flags));
        EXPECT_EQ(RectOf(window), c.expected);
        EXPECT_EQ(IsWindowVisible(window) != FALSE, c.visible);
        DestroyWindow(window);
    }
}

TEST_F(WindowGeometry, InsertAfterRestacksTheZOrder) {
    using platform::testing::WindowsInZOrder;
    const HWND a = MakeWindow({});
    const HWND b = MakeWindow({});
    const HWND c = MakeWindow({});
    EXPECT_EQ(WindowsInZOrder(), (std::vector<HWND>{c, b, a})) << "new windows go on top";

    constexpr UINT kKeep = SWP_NOMOVE | SWP_NOSIZE;
    EXPECT_TRUE(SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, kKeep));
    EXPECT_EQ(WindowsInZOrder(), (std::vector<HWND>{a, c, b}));
    EXPECT_TRUE(SetWindowPos(a, HWND_BOTTOM, 0, 0, 0, 0, kKeep));
    EXPECT_EQ(WindowsInZOrder(), (std::vector<HWND>{c, b, a}));
    EXPECT_TRUE(SetWindowPos(c, a, 0, 0, 0, 0, kKeep));
    EXPECT_EQ(WindowsInZOrder(), (std::vector<HWND>{b, a, c}));
    EXPECT_TRUE(SetWindowPos(c, HWND_TOP, 0, 0, 0, 0, kKeep | SWP_NOZORDER));
    EXPECT_EQ(WindowsInZOrder(), (std::vector<HWND>{b, a, c}));

    DestroyWindow(b);
    EXPECT_FALSE(SetWindowPos(c, b, 0, 0, 0, 0, kKeep)) << "insert after a window that is gone";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(WindowsInZOrder(), (std::vector<HWND>{a, c}));
}

TEST_F(WindowGeometry, ShowWindowAnswersThePreviousVisibility) {
    const HWND window = MakeWindow({});
    EXPECT_FALSE(IsWindowVisible(window)) << "windows start hidden";
    EXPECT_FALSE(ShowWindow(window, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(ShowWindow(window, SW_SHOWNORMAL));
    EXPECT_TRUE(ShowWindow(window, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(
        SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW));
    EXPECT_TRUE(
        SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_HIDEWINDOW));
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(WindowGeometry, CallsOnAWindowThatIsGoneFail) {
    const HWND window = MakeWindow({1, 2, 3, 4});
    ASSERT_TRUE(DestroyWindow(window));
    RECT rect{7, 7, 7, 7};
    EXPECT_FALSE(GetWindowRect(window, &rect));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(rect, (RECT{7, 7, 7, 7}));
    EXPECT_FALSE(SetWindowPos(window, HWND_TOP, 0, 0, 1, 1, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(ShowWindow(window, SW_SHOW));
    EXPECT_FALSE(GetWindowRect(MakeWindow({}), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(WindowGeometry, InjectedFailuresLeaveTheWindowAsItWas) {
    const HWND window = MakeWindow({0, 0, 10, 10});
    platform::testing::FailCall("SetWindowPos", ERROR_ACCESS_DENIED, 1);
    EXPECT_FALSE(SetWindowPos(window, HWND_TOP, 5, 5, 20, 20, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    platform::testing::FailCall("GetWindowRect", ERROR_ACCESS_DENIED, 1);
    RECT rect{};
    EXPECT_FALSE(GetWindowRect(window, &rect));
    EXPECT_EQ(RectOf(window), (RECT{0, 0, 10, 10}));
}

}  // namespace
