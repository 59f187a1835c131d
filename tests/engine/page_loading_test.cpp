// The stand-in engine's headless loading: every file a page refers to, asked for once, and a
// missing one reported through the debug output.
#include <gtest/gtest.h>
#include <platform/testing.h>

#include <string>
#include <vector>

#include "engine_stand_in/windows.h"
#include "sciter/sapi.h"
#include "tests/support/temp_dir.h"

namespace {

struct Message {
    UINT subsystem;
    UINT severity;
    std::u16string text;
};

void SCAPI Collect(void* param, UINT subsystem, UINT severity, const char16_t* text, UINT length) {
    static_cast<std::vector<Message>*>(param)->push_back({subsystem, severity, {text, length}});
}

// Leaves every URL to the engine, which reads file:// URLs itself.
UINT SCAPI LeaveToTheEngine(SCITER_CALLBACK_NOTIFICATION*, void*) { return LOAD_OK; }

TEST(PageLoading, AsksForEveryReferenceRecursivelyAndReportsTheMissingOnes) {
    platform::testing::Reset();
    const test_support::TempDir folder;
    const std::string base = "file://" + folder.path().string();
    test_support::WriteFile(folder / "page.html",
                            R"(<html window-width="300dip" window-height="200px">
<link rel="stylesheet" href="css/style.css#App"><link rel="icon" href="ignored.ico">
<script type="module" src="./js/a.js"></script><img src='img/logo.png'></html>)");
    test_support::WriteFile(folder / "css" / "style.css",
                            "@import \"missing.css\";\nbody { background: url(../img/logo.png); }\n"
                            "p { background: url(\"data:image/png;base64,AA\"); }");
    test_support::WriteFile(folder / "img" / "logo.png", "png");
    test_support::WriteFile(folder / "js" / "a.js",
                            "import { B } from \"./lib/b.js\";\nexport * from './lib/c.js';");
    test_support::WriteFile(folder / "js" / "lib" / "b.js", "import \"../../gone.js\";");
    test_support::WriteFile(folder / "js" / "lib" / "c.js", "const x = import(\"./b.js\");");

    std::vector<Message> messages;
    SAPI()->SciterSetupDebugOutput(nullptr, &messages, &Collect);
    const HWINDOW hwnd = SAPI()->SciterCreateWindow(0, nullptr, nullptr, nullptr, nullptr);
    SAPI()->SciterSetCallback(hwnd, &LeaveToTheEngine, nullptr);
    const std::u16string url(base.begin(), base.end());
    EXPECT_TRUE(SAPI()->SciterLoadFile(hwnd, (url + u"/page.html").c_str()));
    SAPI()->SciterSetupDebugOutput(nullptr, nullptr, nullptr);

    struct Expected {
        const char16_t* path;
        UINT data_type;
        bool delivered;
    };
    const Expected expected[] = {
        {u"/page.html", RT_DATA_HTML, true},         {u"/css/style.css", RT_DATA_STYLE, true},
        {u"/css/missing.css", RT_DATA_STYLE, false}, {u"/img/logo.png", RT_DATA_IMAGE, true},
        {u"/js/a.js", RT_DATA_SCRIPT, true},         {u"/js/lib/b.js", RT_DATA_SCRIPT, true},
        {u"/gone.js", RT_DATA_SCRIPT, false},        {u"/js/lib/c.js", RT_DATA_SCRIPT, true},
    };
    const auto requests = engine_stand_in::LastLoad(hwnd);
    ASSERT_EQ(requests.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(requests[i].url, url + expected[i].path);
        EXPECT_EQ(requests[i].data_type, expected[i].data_type);
        EXPECT_EQ(requests[i].delivered, expected[i].delivered);
    }

    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].subsystem, OT_CSS);
    EXPECT_EQ(messages[0].severity, OS_WARNING);
    EXPECT_EQ(messages[0].text, u"failed to load \"" + url +
                                    u"/css/missing.css\" referred to by \"" + url +
                                    u"/css/style.css\"");
    EXPECT_EQ(messages[1].subsystem, OT_TIS);
    EXPECT_EQ(messages[1].severity, OS_ERROR);

    RECT rect{};
    GetWindowRect(hwnd, &rect);
    EXPECT_EQ(rect.right - rect.left, 300);
    EXPECT_EQ(rect.bottom - rect.top, 200);

    EXPECT_FALSE(SAPI()->SciterLoadFile(hwnd, (url + u"/nothing.html").c_str()));
    DestroyWindow(hwnd);
    platform::testing::Reset();
}

}  // namespace
