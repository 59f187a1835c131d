// The library's one export: the function table.
#include "atoms.h"
#include "global_assets.h"
#include "options.h"
#include "value_functions.h"
#include "window_members.h"

namespace {

using namespace engine_stand_in::detail;

constexpr SciterApiTable kTable{
    &SciterSetOption,
    &SciterCreateWindow,
    &SciterSetCallback,
    &SciterWindowAttachEventHandler,
    &SciterOpenArchive,
    &SciterCloseArchive,
    &SciterGetArchiveItem,
    &SciterDataReady,
    &SciterLoadFile,
    &SciterWindowExec,
    &SciterGetPPI,
    &SciterSetupDebugOutput,
    &SciterAtomValue,
    &SciterSetGlobalAsset,
    &SciterReleaseGlobalAsset,
    &ValueInit,
    &ValueClear,
    &ValueCopy,
    &ValueStringData,
    &ValueStringDataSet,
    &ValueIntDataSet,
    &ValueNthElementValueSet,
    &ValueToString,
    &ValueInvoke,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const SciterApiTable* SCAPI SciterAPI() {
    return &kTable;
}
