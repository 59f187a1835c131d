// Windows: their rectangles, placement, visibility and destruction. Windows are made by the
// stand-in engine through platform/window_registry.h; the program only moves and reads them.
#pragma once

#include "win/types.h"

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;

struct POINT {
    LONG x;
    LONG y;
};

// Insert-after values of SetWindowPos.
#define HWND_TOP (reinterpret_cast<HWND>(0))
#define HWND_BOTTOM (reinterpret_cast<HWND>(1))
#define HWND_TOPMOST (reinterpret_cast<HWND>(-1))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(-2))

// SetWindowPos flags that change what it does; the others (activation, redrawing, frame
// changes) have nothing to act on here and are accepted and ignored.
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOREDRAW 0x0008
#define SWP_NOACTIVATE 0x0010
#define SWP_FRAMECHANGED 0x0020
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080

// ShowWindow commands: SW_HIDE hides, every other command shows (there is no minimised or
// maximised state here). SW_SHOWDEFAULT is in process.h.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_RESTORE 9

extern "C" {

// The window's rectangle in screen coordinates. ERROR_INVALID_WINDOW_HANDLE for an unknown or
// destroyed window.
BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
// Moves, sizes, restacks, shows or hides the window as the flags say. Nothing is announced to
// the window's procedure.
BOOL WINAPI SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags);
// Answers whether the window was visible before.
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI IsWindowVisible(HWND window);
// True from creation until DestroyWindow has sent WM_DESTROY and returned.
BOOL WINAPI IsWindow(HWND window);
// Sends WM_DESTROY to the window's procedure, then the handle is gone: later posts fail and
// messages already queued for it are retrieved but no longer dispatched. Only the window's own
// thread may destroy it (ERROR_ACCESS_DENIED otherwise). A second call while WM_DESTROY is
// being handled does nothing and succeeds.
BOOL WINAPI DestroyWindow(HWND window);
// The default handling: WM_CLOSE destroys the window; every other message answers 0.
LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
}
