// Kernel object handles shared by files, tokens and the other objects of the layer.
#pragma once

#include "types.h"

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

extern "C" {

BOOL WINAPI CloseHandle(HANDLE object);
}
