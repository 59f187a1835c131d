// Linux file facts as Windows reports them.
#pragma once

#include <windows.h>

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::detail {

// Read-only when the owner cannot write, hidden for a leading dot in `name`, directory, and
// archive for a regular file, a reparse point for a symbolic link; normal when none applies.
DWORD AttributesOf(mode_t mode, std::string_view name);

// Whether `name` in the folder `at` is a link whose target is a folder: a junction or folder
// link on Windows, a folder that is a reparse point.
bool IsFolderLink(int at, const char* name);

// Seconds and nanoseconds since 1970 as 100-ns units since 1601; times before 1601 give 0.
FILETIME ToFileTime(std::int64_t seconds, std::uint32_t nanoseconds);

// The Windows error number for an errno of a file call.
DWORD ErrorOfErrno(int error_number);

// UTF-8 path of a Windows path: both slashes separate.
std::string LinuxPath(LPCWSTR path);

// The last part of a path.
std::string NameOf(const std::string& path);

// ERROR_FILE_NOT_FOUND when the parent folder exists, else ERROR_PATH_NOT_FOUND.
DWORD MissingError(const std::string& path);

}  // namespace platform::detail
