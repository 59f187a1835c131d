// The engine's function table. The first call loads "sciter.dll" and its export "SciterAPI";
// when either is missing or the export gives no table, the process exits with code -1.
// Safe against concurrent first calls; the table and the library live until process exit.
#pragma once

#include "sciter/api.h"

const SciterApiTable* SAPI();
