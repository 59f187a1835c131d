// The program's only message loop.
#pragma once

// Retrieves, translates and dispatches the thread's messages until WM_QUIT and answers its
// wParam. A failing GetMessageW (-1) ends the loop with -1 instead of spinning on it.
int RunMessagePump();
