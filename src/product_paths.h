// Where the program finds and leaves things, and the identity string the report service sees.
// Every function computes its result anew; the path functions throw std::runtime_error when
// the special folder cannot be found.
#pragma once

#include <filesystem>
#include <string>

// "failed to get special folder path. error=<system text>. csidl=<csidl>" on failure.
std::wstring GetSpecialFolderPath(int csidl);

std::filesystem::path GetProductDataFolder();
std::wstring GetLogsFolder();
std::filesystem::path GetCrashInfoFolder();
// Whether the staging marker "dev-mode" exists (as a file or a folder) in the data folder.
bool IsDevMode();
// Whether the marker "settings/verify-peer" exists: TLS peer verification is then switched off.
bool IsPeerVerificationDisabled();
std::wstring GetLanguageFilePath();

// Maker, product and dotted version joined by "-": the User-Agent of the uploads.
std::string BuildProductIdentity();
