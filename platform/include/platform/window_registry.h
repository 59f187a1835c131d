// What the stand-in engine needs from the layer to make windows of its own: a window with a
// procedure, and a hook that lets it run work from inside the program's message loop.
// Not for the program's code, which reaches windows only through the engine and the Win32 calls.
//
// Threads: a window belongs to the thread that made it. Its procedure runs on that thread only
// (DispatchMessageW, SendMessageW and DestroyWindow from it), and messages posted to it, from
// any thread, go to that thread's queue. So every call into the program's code that the engine
// makes from a procedure or from the idle handler happens on the program's one thread.
// When a thread ends, its windows are dropped without calling their procedures.
#pragma once

#include <windows.h>

#include <functional>

namespace platform {

// Receives every message dispatched or sent to the window, WM_DESTROY last. It may post, send,
// make and destroy windows (its own too) and run a nested GetMessageW loop; no lock of the
// layer is held while it runs.
using WindowProcedure = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Makes a hidden top-level window of the calling thread at `frame` (screen coordinates), on top
// of the Z order. No message is sent during creation. Answers null with ERROR_INVALID_PARAMETER
// when the procedure is empty. Handles are never reused. Destroy it with DestroyWindow.
HWND CreatePlatformWindow(WindowProcedure procedure, const RECT& frame);

// Work to run while the calling thread's GetMessageW finds nothing to retrieve: no posted
// message passes its filter and no quit is pending. It answers whether it did something; then
// GetMessageW looks at the queue again, and when it answers false GetMessageW waits for a
// message posted from elsewhere (which, with one thread, means forever: the handler should
// post WM_CLOSE or PostQuitMessage when it has nothing left to do).
//
// It is how a scenario driver plays its steps from inside the loop, one step per call, each
// step's messages dispatched before the next step runs. It does not run again while it is
// running: a nested loop inside one of its steps (a modal box) only retrieves messages.
// PeekMessageW never runs it. An empty function removes it; one handler per thread.
using IdleHandler = std::function<bool()>;
void SetIdleHandler(IdleHandler handler);

}  // namespace platform
