// The names and version that every path, the identity string and the logs share.
#pragma once

inline constexpr wchar_t kMakerName[] = L"Quorbelin";
inline constexpr wchar_t kProductName[] = L"Velmora Antivirus";
inline constexpr char kProgramVersion[] = "14,3,43577,3505";
