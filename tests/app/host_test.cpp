// The host callbacks' answers to the engine's requests.
#include "sciter/host.h"

#include <gtest/gtest.h>
#include "resources/interface_archive.h"

#include <string>

#include "engine_stand_in/windows.h"
#include "sciter/sapi.h"
#include "tests/app/engine_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

class TestHost : public sciter::host<TestHost> {};

class HostTest : public EngineFixture {
protected:
    HostTest() {
        HSARCHIVE& archive = sciter::archive_handle();
        if (archive == nullptr) {
            archive = SAPI()->SciterOpenArchive(kInterfaceArchive,
                                                static_cast<UINT>(kInterfaceArchiveSize));
        }
    }

    UINT Ask(const char16_t* url, UINT code = SC_LOAD_DATA) {
        SCN_LOAD_DATA request{code,         nullptr, url,     nullptr, 0,
                              RT_DATA_HTML, nullptr, nullptr, nullptr};
        return TestHost::handle_notification(
            reinterpret_cast<SCITER_CALLBACK_NOTIFICATION*>(&request), &host_);
    }

    TestHost host_;
};

TEST_F(HostTest, AnswersLoadRequestsByScheme) {
    struct Case {
        const char16_t* url;
        UINT answer;
    };
    const Case cases[] = {
        {u"this://app/index.html", LOAD_OK},
        {u"this://app/INDEX.HTML", LOAD_OK},  // names fold case
        {u"this://app/Layout/LayoutBase/Caption/Caption.js", LOAD_OK},
        {u"this://app///index.html", LOAD_OK},      // two extra slashes are skipped
        {u"this://app//index.html", LOAD_DISCARD},  // one leaves "/index.html"
        {u"this://app/missing.js", LOAD_DISCARD},
        {u"this://app/", LOAD_DISCARD},
        {u"THIS://APP/index.html", LOAD_OK},  // not the archive: left to the engine
        {u"file:///tmp/page.html", LOAD_OK},
        {u"", LOAD_OK},
        {nullptr, LOAD_OK},
        {u"res:", LOAD_DISCARD},         // nothing after the prefix
        {u"res:page.html", LOAD_OK},     // the resource "page" of type 23
        {u"res:PAGE.HTM", LOAD_OK},      // names and extensions fold case
        {u"res:page", LOAD_OK},          // no extension: type 23 too
        {u"res:res:page.htm", LOAD_OK},  // a doubled prefix
        {u"res://icon.png", LOAD_OK},    // the named type "png"
        {u"res:res://icon.png", LOAD_OK},
        {u"res:icon.html", LOAD_DISCARD},  // icon is not of type 23
        {u"res:page.png", LOAD_DISCARD},
        {u"res:missing.html", LOAD_DISCARD},
        {u"RES:page.html", LOAD_OK},  // not the resource prefix: left to the engine
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Ask(cases[i].url), cases[i].answer);
    }
}

TEST_F(HostTest, ServesArchiveItemsThroughTheEngine) {
    // Through the engine's own loading, so that the delivered bytes are seen.
    const HWINDOW hwnd = SAPI()->SciterCreateWindow(0, nullptr, nullptr, nullptr, nullptr);
    SAPI()->SciterSetCallback(hwnd, &TestHost::handle_notification, &host_);
    struct Case {
        const char16_t* url;
        std::size_t size;
    };
    const std::string css = test_support::ReadFile(TALLORIN_UI_FOLDER "/index.css");
    const Case cases[] = {
        {u"this://app/index.css", css.size()},
        {u"this://app/INDEX.CSS", css.size()},
        {u"this://app///index.css", css.size()},
        {u"this://app//index.css", 0},
        {u"res:page.html", test_support::ReadFile(TALLORIN_TEST_RESOURCES "/page.html").size()},
        {u"res://icon.png", test_support::ReadFile(TALLORIN_TEST_RESOURCES "/icon.png").size()},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        SAPI()->SciterLoadFile(hwnd, cases[i].url);
        const auto requests = engine_stand_in::LastLoad(hwnd);
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].delivered, cases[i].size != 0);
        EXPECT_EQ(requests[0].size, cases[i].size);
    }
    DestroyWindow(hwnd);
}

TEST_F(HostTest, OtherNotificationsAndBehavioursAnswerZero) {
    EXPECT_EQ(Ask(u"this://app/index.html", 3), 0u);
    EXPECT_EQ(Ask(u"this://app/index.html", 8), 0u);
    for (const char* name : {"", "button", "expandable-list"}) {
        SCOPED_TRACE(name);
        SCN_ATTACH_BEHAVIOR request{SC_ATTACH_BEHAVIOR, nullptr, nullptr, name, nullptr, nullptr};
        EXPECT_EQ(TestHost::handle_notification(
                      reinterpret_cast<SCITER_CALLBACK_NOTIFICATION*>(&request), &host_),
                  0u);
        EXPECT_EQ(request.element_proc, nullptr);
    }
}

}  // namespace
