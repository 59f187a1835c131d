// The process's console.
#pragma once

#include "win/types.h"

extern "C" {

// There are no consoles to allocate here: FALSE with ERROR_CALL_NOT_IMPLEMENTED.
BOOL WINAPI AllocConsole();
}
