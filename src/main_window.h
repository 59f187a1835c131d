// The program's one window: the engine window that shows the interface archive's start page,
// centred on the primary screen, reloaded on Ctrl+F5. Closing it lets the two global script
// objects go. Lives on the heap, held by its reference count (two after construction: its
// handler part and its window part, given back by the engine as it detaches and destroys it).
// The program's one thread only.
#pragma once

#include "sciter/window.h"

class MainWindow : public sciter::window {
public:
    // Creates the engine window, hidden and empty.
    MainWindow();

    // Loads the interface, centres the window and makes it visible.
    void show();
    // (Re)opens the interface archive and loads its start page.
    void load();

    // Ctrl+F5 released reloads the page.
    bool handle_key(HELEMENT element, KEY_PARAMS& params) override;
    // WM_CLOSE releases "Application", then "Localizer"; every message goes on to the engine.
    LRESULT on_message(HWINDOW hwnd, UINT message, WPARAM w_param, LPARAM l_param,
                       BOOL* handled) override;

protected:
    ~MainWindow() override = default;
};
