// Resources of the executable's own module: the table that the build compiles from the
// resource list (see platform/resource_table.h). Names and named types compare without regard
// to case; integer names and types are given with MAKEINTRESOURCEW.
#pragma once

#include "win/types.h"

#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)

#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

extern "C" {

// Null when the module has no such resource (last error: type or name not found).
HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
// The resource's data; it lives as long as the module and must not be written.
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL resource_data);
// 0 on failure, with the last error set.
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);
}
