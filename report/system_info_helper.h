// Facts about the machine for the report. Each function asks Windows once, keeps nothing,
// never throws for a failed system call and never logs.
#pragma once

#include <cstdint>
#include <string>

namespace SystemInfoHelper {

// "Microsoft Windows 7 Ultimate Edition Service Pack 1 (build 7601), 32-bit"; empty when the
// version cannot be asked, "Unsupported operation system" before Windows 2000.
std::wstring GetWindowsVersion();
// The processor's brand text as CPUID gives it, blanks kept; empty without it.
std::wstring GetCpuName();
// The free part of this process's user address space in MiB (not physical memory); 0 on failure.
std::int32_t GetAvailableMemoryMb();
// The folder of the program file.
std::wstring GetInstalledPath();
// Free space in GiB for this user on the current directory's volume.
std::int32_t GetAvailableDiskSpaceGb();

}  // namespace SystemInfoHelper
