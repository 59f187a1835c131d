// The OLE header of Windows; the declarations live with the rest of the layer's API.
#pragma once

#include <windows.h>
