// TEMPORARY, removed when the system-facts area (win/sysinfo.h) arrives: the screen metrics
// the window's centring needs, declared as that area declares them.
#pragma once

#include "types.h"

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

extern "C" {

// SM_CXSCREEN / SM_CYSCREEN (a 1920 x 1080 primary screen unless a test says otherwise);
// 0 for every other index.
int WINAPI GetSystemMetrics(int index);

}
