#include "pending_members.h"

namespace engine_stand_in::detail {

HWINDOW SCAPI SciterCreateWindow(UINT, const RECT*, SciterWindowDelegate, void*, HWINDOW) {
    return nullptr;
}
void SCAPI SciterSetCallback(HWINDOW, SciterHostCallback, void*) {}
int SCAPI SciterWindowAttachEventHandler(HWINDOW, SciterElementEventProc, void*, UINT) {
    return -1;
}
HSARCHIVE SCAPI SciterOpenArchive(const BYTE*, UINT) { return nullptr; }
BOOL SCAPI SciterCloseArchive(HSARCHIVE) { return FALSE; }
BOOL SCAPI SciterGetArchiveItem(HSARCHIVE, const char16_t*, const BYTE**, UINT*) { return FALSE; }
BOOL SCAPI SciterDataReady(HWINDOW, const char16_t*, const BYTE*, UINT) { return FALSE; }
BOOL SCAPI SciterLoadFile(HWINDOW, const char16_t*) { return FALSE; }
BOOL SCAPI SciterWindowExec(HWINDOW, UINT, UINT_PTR, UINT_PTR) { return FALSE; }
void SCAPI SciterGetPPI(HWINDOW, UINT*, UINT*) {}
void SCAPI SciterSetupDebugOutput(HWINDOW, void*, DEBUG_OUTPUT_PROC) {}

}  // namespace engine_stand_in::detail
