// The names and version that every path, the identity string and the logs share.
#pragma once

#include "src/product_version.h"  // kProgramVersion, from the build's version

inline constexpr wchar_t kMakerName[] = L"Quorbelin";
inline constexpr wchar_t kProductName[] = L"Velmora Antivirus";
