#include "src/message_pump.h"

#include <windows.h>

int RunMessagePump() {
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            return static_cast<int>(message.wParam);
        }
        if (got == -1) {
            return -1;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
