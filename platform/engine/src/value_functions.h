// The value members of the function table, also used by the script's side of the engine.
#pragma once

#include "sciter/api.h"

namespace engine_stand_in::detail {

UINT SCAPI ValueInit(VALUE* value);
UINT SCAPI ValueClear(VALUE* value);
UINT SCAPI ValueCopy(VALUE* destination, const VALUE* source);
UINT SCAPI ValueStringData(const VALUE* value, const char16_t** chars, UINT* length);
UINT SCAPI ValueStringDataSet(VALUE* value, const char16_t* chars, UINT length, UINT units);
UINT SCAPI ValueIntDataSet(VALUE* value, INT data, UINT type, UINT units);
UINT SCAPI ValueNthElementValueSet(VALUE* value, INT n, const VALUE* element);
UINT SCAPI ValueToString(VALUE* value, UINT how);
UINT SCAPI ValueInvoke(const VALUE* function, VALUE* this_value, UINT argc, const VALUE* argv,
                       VALUE* result, const char16_t* url);

}  // namespace engine_stand_in::detail
