// Members for windows, archives, file loading, the host callback and debug output.
#pragma once

#include "sciter/api.h"

namespace engine_stand_in::detail {

HWINDOW SCAPI SciterCreateWindow(UINT creation_flags, const RECT* frame,
                                 SciterWindowDelegate delegate, void* delegate_param,
                                 HWINDOW parent);
void SCAPI SciterSetCallback(HWINDOW hwnd, SciterHostCallback callback, void* param);
int SCAPI SciterWindowAttachEventHandler(HWINDOW hwnd, SciterElementEventProc handler, void* tag,
                                         UINT subscription);
HSARCHIVE SCAPI SciterOpenArchive(const BYTE* data, UINT size);
BOOL SCAPI SciterCloseArchive(HSARCHIVE archive);
BOOL SCAPI SciterGetArchiveItem(HSARCHIVE archive, const char16_t* path, const BYTE** data,
                                UINT* size);
BOOL SCAPI SciterDataReady(HWINDOW hwnd, const char16_t* url, const BYTE* data, UINT size);
BOOL SCAPI SciterLoadFile(HWINDOW hwnd, const char16_t* url);
BOOL SCAPI SciterWindowExec(HWINDOW hwnd, UINT command, UINT_PTR p1, UINT_PTR p2);
void SCAPI SciterGetPPI(HWINDOW hwnd, UINT* px, UINT* py);
void SCAPI SciterSetupDebugOutput(HWINDOW hwnd, void* param, DEBUG_OUTPUT_PROC proc);

}  // namespace engine_stand_in::detail
