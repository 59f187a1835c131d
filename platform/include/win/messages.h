// The per-thread message queue. Messages posted to a window go to the queue of the thread that
// made it; that thread's GetMessageW retrieves them and DispatchMessageW hands them to the
// window's procedure.
#pragma once

#include "win/types.h"
#include "win/window.h"

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using LPMSG = MSG*;
using PMSG = MSG*;

using WNDPROC = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SHOWWINDOW 0x0018
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000

#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_F5 0x74

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

extern "C" {

// Waits for the next message of the calling thread's queue that passes the filter (a window,
// or (HWND)-1 for messages posted to no window; a range of message numbers, 0 and 0 for all).
// Posted messages come out in the order they were posted; WM_QUIT, whatever the filter, comes
// only when no posted message is left. While nothing is there the thread's idle handler runs
// (platform/window_registry.h). Answers 0 for WM_QUIT, -1 for a bad argument, else 1.
BOOL WINAPI GetMessageW(LPMSG message, HWND window, UINT filter_min, UINT filter_max);
// The same without waiting and without the idle handler; FALSE when nothing is there.
BOOL WINAPI PeekMessageW(LPMSG message, HWND window, UINT filter_min, UINT filter_max, UINT remove);
// Key messages count as translated; there is no keyboard layout here, so no WM_CHAR follows.
BOOL WINAPI TranslateMessage(const MSG* message);
// Calls the procedure of the message's window and answers its result; 0 without calling
// anything for a message posted to no window or to a window that is gone.
LRESULT WINAPI DispatchMessageW(const MSG* message);
// A null window posts to the calling thread's own queue. ERROR_INVALID_WINDOW_HANDLE for a
// window that does not exist (any more).
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Calls the window's procedure at once. Only the window's own thread may send here
// (ERROR_ACCESS_DENIED and 0 otherwise); 0 and ERROR_INVALID_WINDOW_HANDLE for a window that
// is gone.
LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Asks the calling thread's loop to end: its GetMessageW answers WM_QUIT with the exit code as
// wParam once the posted messages before it have been retrieved.
void WINAPI PostQuitMessage(int exit_code);
}
