#pragma once

#include "sciter/api.h"

namespace engine_stand_in::detail {

BOOL SCAPI SciterSetOption(HWINDOW window, UINT option, UINT_PTR value);

}  // namespace engine_stand_in::detail
