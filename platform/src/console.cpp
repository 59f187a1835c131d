#include <windows.h>

extern "C" {

BOOL WINAPI AllocConsole() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
}
