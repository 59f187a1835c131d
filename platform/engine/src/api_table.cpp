// The library's one export: the function table.
#include "platform/engine/src/atoms.h"
#include "platform/engine/src/global_assets.h"
#include "platform/engine/src/options.h"
#include "platform/engine/src/value_functions.h"
#include "platform/engine/src/window_members.h"

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
