// The Win32 subset this program calls, declared for the platform layer that stands in for
// Windows here. Only this folder is on the include path when not building for Windows; each
// area of the API has its own header under win/.
#pragma once

#include "win/console.h"
#include "win/debug.h"
#include "win/errors.h"
#include "win/files.h"
#include "win/global_memory.h"
#include "win/handles.h"
#include "win/library.h"
#include "win/messages.h"
#include "win/ole.h"
#include "win/process.h"
#include "win/resources.h"
#include "win/security.h"
#include "win/sysinfo.h"
#include "win/text.h"
#include "win/types.h"
#include "win/window.h"
