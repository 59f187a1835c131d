// What the program asked of SciterSetOption, in order.
#pragma once

#include <vector>

#include "sciter/api.h"

namespace engine_stand_in {

struct RecordedOption {
    HWINDOW window;
    UINT option;
    UINT_PTR value;
};

std::vector<RecordedOption> RecordedOptions();

}  // namespace engine_stand_in
