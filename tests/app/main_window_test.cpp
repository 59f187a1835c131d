// The main window in-process, on the stand-in engine.
#include "src/main_window.h"

#include <gtest/gtest.h>

#include <platform/testing.h>
#include <algorithm>

#include <boost/signals2/signal.hpp>

#include <memory>
#include <string>
#include <vector>

#include "engine_stand_in/global_object.h"
#include "engine_stand_in/windows.h"
#include "src/app_asset.h"
#include "src/globals.h"
#include "src/localization_asset.h"
#include "tests/app/engine_fixture.h"

namespace {

// Tells when the window object is freed.
class ObservedWindow : public MainWindow {
public:
    explicit ObservedWindow(bool& destroyed) : destroyed_(destroyed) {}

protected:
    ~ObservedWindow() override { destroyed_ = true; }

private:
    bool& destroyed_;
};

class MainWindowTest : public EngineFixture {
protected:
    ~MainWindowTest() override {
        engine_stand_in::SetPixelsPerInch(96);
        if (window_ != nullptr && !destroyed_) {
            Close();
            window_->asset_release();
        }
    }

    ObservedWindow& Open() {
        window_ = new ObservedWindow(destroyed_);
        window_->asset_add_ref();  // as uimain holds it
        window_->show();
        return *window_;
    }

    void Close() {
        if (window_->get_hwnd() != nullptr) {
            SendMessageW(window_->get_hwnd(), WM_CLOSE, 0, 0);
        }
    }

    RECT Rect() const {
        RECT rect{};
        GetWindowRect(window_->get_hwnd(), &rect);
        return rect;
    }

    bool destroyed_ = false;
    ObservedWindow* window_ = nullptr;
};

TEST_F(MainWindowTest, ShowingLoadsEveryFileOfTheStartPageFromTheArchive) {
    Open();
    const auto requests = engine_stand_in::LastLoad(window_->get_hwnd());
    ASSERT_GT(requests.size(), 2u);
    EXPECT_EQ(requests[0].url, u"this://app/index.html");
    // The page's module script brings the application and, through it, its components.
    const auto requested = [&](std::u16string_view url) {
        return std::any_of(requests.begin(), requests.end(),
                           [&](const auto& request) { return request.url == url; });
    };
    EXPECT_TRUE(requested(u"this://app/app.js"));
    EXPECT_TRUE(requested(u"this://app/Layout/LayoutBase/Caption/Caption.js"));
    for (const auto& request : requests) {
        EXPECT_TRUE(request.delivered) << std::string(request.url.begin(), request.url.end());
        EXPECT_GT(request.size, 0u);
    }
    EXPECT_TRUE(IsWindowVisible(window_->get_hwnd()));
    EXPECT_EQ(platform::testing::WindowsInZOrder().front(), window_->get_hwnd());
    const std::string log = Log();
    EXPECT_LT(log.find("[MainWindow::MainWindow]: created"), log.find("show main window"));
}

TEST_F(MainWindowTest, CentresThePagesSizeOnThePrimaryScreen) {
    struct Case {
        int screen_w;
        int screen_h;
        UINT ppi;
        RECT expected;
    };
    const Case cases[] = {
        {1920, 1080, 96, {680, 270, 1240, 810}},
        {1920, 1080, 120, {610, 202, 1310, 877}},  // 560 x 540 dip at 120 ppi: 700 x 675
        {500, 1080, 96, {0, 270, 560, 810}},       // wider than the screen: at its edge
        {1920, 400, 96, {680, 0, 1240, 540}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        platform::testing::SetSystemMetric(SM_CXSCREEN, cases[i].screen_w);
        platform::testing::SetSystemMetric(SM_CYSCREEN, cases[i].screen_h);
        engine_stand_in::SetPixelsPerInch(cases[i].ppi);
        destroyed_ = false;
        Open();
        const RECT rect = Rect();
        EXPECT_EQ(rect.left, cases[i].expected.left);
        EXPECT_EQ(rect.top, cases[i].expected.top);
        EXPECT_EQ(rect.right, cases[i].expected.right);
        EXPECT_EQ(rect.bottom, cases[i].expected.bottom);
        Close();
        window_->asset_release();
        ASSERT_TRUE(destroyed_);
    }
    EXPECT_NE(Log().find("DPI window rect x:680, y:270, w:560, h:540"), std::string::npos);
    EXPECT_NE(Log().find("DPI window rect x:0, y:270, w:560, h:540"), std::string::npos);
}

TEST_F(MainWindowTest, OnlyCtrlF5ReleasedReloads) {
    struct Case {
        UINT command;
        UINT key_code;
        UINT state;
        bool reloads;
    };
    const Case cases[] = {
        {KEY_UP, VK_F5, CONTROL_KEY_PRESSED, true},
        {KEY_UP, VK_F5, CONTROL_KEY_PRESSED | SHIFT_KEY_PRESSED, true},
        {KEY_UP, VK_F5, CONTROL_KEY_PRESSED | ALT_KEY_PRESSED, true},
        {KEY_UP, VK_F5, 0, false},
        {KEY_UP, VK_F5, SHIFT_KEY_PRESSED, false},
        {KEY_DOWN, VK_F5, CONTROL_KEY_PRESSED, false},
        {KEY_CHAR, VK_F5, CONTROL_KEY_PRESSED, false},
        {UINT{KEY_UP} | SINKING, VK_F5, CONTROL_KEY_PRESSED, false},
        {UINT{KEY_UP} | HANDLED, VK_F5, CONTROL_KEY_PRESSED, false},
        {KEY_UP, 0x75, CONTROL_KEY_PRESSED, false},  // F6
        {KEY_UP, VK_ESCAPE, 0, false},
    };
    Open();
    const HWND hwnd = window_->get_hwnd();
    const std::size_t first_load = engine_stand_in::LastLoad(hwnd).size();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const std::size_t keys = Count(Log(), "handle main window key");
        const std::size_t reloads = Count(Log(), "]: reload\n");
        const BOOL handled =
            engine_stand_in::SendKey(hwnd, cases[i].command, cases[i].key_code, cases[i].state);
        EXPECT_EQ(handled != FALSE, cases[i].reloads);
        EXPECT_EQ(Count(Log(), "handle main window key"), keys + 1);
        EXPECT_EQ(Count(Log(), "]: reload\n"), reloads + (cases[i].reloads ? 1 : 0));
        // A reload loads the whole page again from the reopened archive.
        const auto requests = engine_stand_in::LastLoad(hwnd);
        ASSERT_EQ(requests.size(), first_load);
        EXPECT_TRUE(requests.back().delivered);
    }
}

TEST_F(MainWindowTest, ReferenceCountFromConstructionToZero) {
    window_ = new ObservedWindow(destroyed_);
    EXPECT_EQ(window_->reference_count(), 2);
    window_->asset_add_ref();
    EXPECT_EQ(window_->reference_count(), 3);
    window_->show();
    EXPECT_EQ(window_->reference_count(), 3);

    const HWND hwnd = window_->get_hwnd();
    ASSERT_NE(hwnd, nullptr);
    SendMessageW(hwnd, WM_CLOSE, 0, 0);  // detached once, destroyed once
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(window_->get_hwnd(), nullptr);
    EXPECT_EQ(window_->reference_count(), 1);
    EXPECT_FALSE(destroyed_);

    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(quit.message, static_cast<UINT>(WM_QUIT));

    window_->asset_release();  // uimain's
    EXPECT_TRUE(destroyed_);
}

TEST_F(MainWindowTest, WmCloseReleasesApplicationOnceAndDisconnectsItsSignals) {
    CreateAppAsset();
    som_asset_t* const app = g_app_asset.asset;
    ASSERT_NE(app, nullptr);
    app->isa->asset_add_ref(app);  // the test's own, to read the count after the close
    boost::signals2::signal<void()> signal;
    g_app_asset.connections->emplace_back(signal.connect([] {}));
    ASSERT_EQ(signal.num_slots(), 1u);

    Open();
    BOOL handled = FALSE;
    EXPECT_EQ(window_->on_message(window_->get_hwnd(), WM_CLOSE, 0, 0, &handled), 0);
    EXPECT_FALSE(handled);
    EXPECT_EQ(g_app_asset.asset, nullptr);
    EXPECT_EQ(g_app_asset.connections, nullptr);
    EXPECT_EQ(signal.num_slots(), 0u);
    EXPECT_FALSE(engine_stand_in::GlobalObject::Find("Application").has_value());
    EXPECT_EQ(g_localization_asset.asset, nullptr);

    // A second WM_CLOSE finds nothing left to release, and other messages touch nothing.
    EXPECT_EQ(window_->on_message(window_->get_hwnd(), WM_CLOSE, 0, 0, &handled), 0);
    EXPECT_EQ(window_->on_message(window_->get_hwnd(), WM_SIZE, 0, 0, &handled), 0);
    EXPECT_FALSE(handled);
    EXPECT_TRUE(IsWindow(window_->get_hwnd()));  // only the engine destroys it
    // The engine let go of its one reference: the test's is the last.
    EXPECT_EQ(app->isa->asset_release(app), 0);
}

// Notes, when the slot that owns it is let go, which global objects are still registered.
class Witness {
public:
    Witness(std::vector<std::string>& notes, std::string name)
        : notes_(notes), name_(std::move(name)) {}
    Witness(const Witness&) = delete;
    Witness& operator=(const Witness&) = delete;
    ~Witness() {
        std::string note = name_ + " disconnected; registered:";
        for (const std::string& registered : engine_stand_in::GlobalObject::Names()) {
            note += " " + registered;
        }
        notes_.push_back(note);
    }

private:
    std::vector<std::string>& notes_;
    std::string name_;
};

TEST_F(MainWindowTest, WmCloseReleasesApplicationBeforeLocalizerEachAfterItsSignals) {
    std::vector<std::string> notes;
    boost::signals2::signal<void()> signal;
    CreateAppAsset();
    CreateLocalizationAsset();
    for (auto* object : {&g_app_asset, &g_localization_asset}) {
        const auto witness =
            std::make_shared<Witness>(notes, object == &g_app_asset ? "Application" : "Localizer");
        object->connections->emplace_back(signal.connect([witness] {}));
    }
    Open();
    BOOL handled = FALSE;
    window_->on_message(window_->get_hwnd(), WM_CLOSE, 0, 0, &handled);
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "Application disconnected; registered: Application Localizer",
                         "Localizer disconnected; registered: Localizer"}));
    EXPECT_EQ(g_app_asset.asset, nullptr);
    EXPECT_EQ(g_localization_asset.asset, nullptr);
    EXPECT_TRUE(engine_stand_in::GlobalObject::Names().empty());

    window_->on_message(window_->get_hwnd(), WM_CLOSE, 0, 0, &handled);
    EXPECT_EQ(notes.size(), 2u);  // nothing left to release
}

TEST_F(MainWindowTest, ClosingThroughTheEngineReleasesTheGlobalObject) {
    CreateAppAsset();
    Open();
    Close();
    EXPECT_EQ(g_app_asset.asset, nullptr);
    EXPECT_FALSE(engine_stand_in::GlobalObject::Find("Application").has_value());
    EXPECT_EQ(window_->reference_count(), 1);
}

TEST_F(MainWindowTest, ItsElementAnswersScriptObjectRequests) {
    Open();
    const HWND hwnd = window_->get_hwnd();
    SOM_PARAMS passport{SOM_GET_PASSPORT, {}};
    passport.data.asset = reinterpret_cast<som_asset_t*>(&passport);  // must be overwritten
    EXPECT_TRUE(engine_stand_in::SendElementEvent(hwnd, HANDLE_SOM, &passport));
    EXPECT_EQ(passport.data.passport, nullptr);

    SOM_PARAMS asset{SOM_GET_ASSET, {}};
    EXPECT_TRUE(engine_stand_in::SendElementEvent(hwnd, HANDLE_SOM, &asset));
    EXPECT_EQ(asset.data.asset, static_cast<som_asset_t*>(window_));
    EXPECT_EQ(window_->reference_count(), 3);

    SOM_PARAMS other{2, {}};
    EXPECT_FALSE(engine_stand_in::SendElementEvent(hwnd, HANDLE_SOM, &other));
}

TEST_F(MainWindowTest, ElementEventsTakeTheirDefaults) {
    Open();
    const HWND hwnd = window_->get_hwnd();
    UINT groups = 0;
    EXPECT_TRUE(sciter::event_handler::element_proc(static_cast<sciter::event_handler*>(window_),
                                                    nullptr, SUBSCRIPTIONS_REQUEST, &groups));
    EXPECT_EQ(groups, 0xFFFFu);
    MOUSE_PARAMS mouse{};
    EXPECT_FALSE(engine_stand_in::SendElementEvent(hwnd, HANDLE_MOUSE, &mouse));
    TIMER_PARAMS timer{7};
    EXPECT_FALSE(engine_stand_in::SendElementEvent(hwnd, HANDLE_TIMER, &timer));
    EXPECT_FALSE(engine_stand_in::SendElementEvent(hwnd, HANDLE_SIZE, nullptr));
    INITIALIZATION_PARAMS other_command{7};
    EXPECT_TRUE(sciter::event_handler::element_proc(static_cast<sciter::event_handler*>(window_),
                                                    nullptr, HANDLE_INITIALIZATION,
                                                    &other_command));
    EXPECT_FALSE(sciter::event_handler::element_proc(nullptr, nullptr, HANDLE_KEY, nullptr));
    EXPECT_FALSE(sciter::event_handler::element_proc(static_cast<sciter::event_handler*>(window_),
                                                     nullptr, 0x0800, nullptr));
    EXPECT_EQ(window_->reference_count(), 3);
}

}  // namespace
