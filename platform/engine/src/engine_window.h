// The engine's record of one window: its platform window, the program's delegate, host
// callback and element handlers, and its document. Touched only on the window's own thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine_stand_in/windows.h"
#include "sciter/api.h"

namespace engine_stand_in::detail {

class BrowserFront;

struct ElementHandler {
    SciterElementEventProc proc;
    void* tag;
    UINT subscription;
};

struct EngineWindow {
    HWND hwnd = nullptr;
    UINT flags = 0;
    SciterWindowDelegate delegate = nullptr;
    void* delegate_param = nullptr;
    SciterHostCallback callback = nullptr;
    void* callback_param = nullptr;
    std::vector<ElementHandler> handlers;

    std::u16string document_url;
    std::vector<FileRequest> last_load;
    // The answer SciterDataReady gave to the request being asked.
    std::u16string asked_url;
    std::optional<std::vector<BYTE>> delivered;

    // Set for a main window when the browser front shows it.
    std::shared_ptr<BrowserFront> front;

    char root = 0;  // its address is the root element's handle
    HELEMENT root_element() { return &root; }
};

std::shared_ptr<EngineWindow> FindEngineWindow(HWND hwnd);

// Asks the host for the page and everything it refers to; sizes the window as the page says.
void LoadDocument(EngineWindow& window, const std::u16string& url);

// The host callback with a notification; 0 when there is none.
UINT Notify(EngineWindow& window, SCITER_CALLBACK_NOTIFICATION* notification);

void EmitDebug(UINT subsystem, UINT severity, std::u16string_view text);

UINT PixelsPerInch();

// One load request to the host callback: the bytes it delivered (or the engine found by its
// own means), none when it discarded the request or had nothing.
std::optional<std::vector<BYTE>> AskHost(EngineWindow& window, const std::u16string& url,
                                         UINT data_type);
// The debug output's report of a file that could not be had.
void ReportMissing(const std::u16string& url, UINT data_type, const std::u16string& referrer);
// Sizes the window as the page's <html window-width window-height> asks.
void SizeWindowAsThePageSays(HWND hwnd, const std::string& page);

// Starts the scenario driver on this thread when its variable names a file (once per process).
void StartScenarioIfAsked(HWND main_window);
// Tells the driver, if one plays this window, that a load has ended.
void ScenarioDocumentLoaded(const EngineWindow& window);

}  // namespace engine_stand_in::detail
