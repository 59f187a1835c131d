// TEMPORARY, removed when the resource area (the compiled resource table) arrives: a module
// without resources, so the program's "res:" loading links and finds nothing.
#include <windows.h>

extern "C" {

HRSRC WINAPI FindResourceW(HMODULE, LPCWSTR, LPCWSTR) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
}

LPVOID WINAPI LockResource(HGLOBAL) { return nullptr; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
}

}
