// The owner of a kernel handle lives with the other shared services.
#pragma once

#include "common/scoped_handle.h"
