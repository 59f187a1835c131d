// OLE start-up and shutdown. The layer has no COM; the calls are counted so that tests can see
// that start-up and shutdown pair them.
#pragma once

#include "win/types.h"

extern "C" {

// S_OK for the first call, S_FALSE while OLE is already initialised; E_INVALIDARG when the
// reserved argument is not null.
HRESULT WINAPI OleInitialize(LPVOID reserved);
// Undoes one successful OleInitialize; without one it does nothing.
void WINAPI OleUninitialize();
}
