// System facts that tests set: the version record, architecture, product type, metrics, LCID.
#pragma once

#include <windows.h>

namespace platform::testing {

// Makes "ntdll.dll" export RtlGetVersion, answering with this record.
void SetVersionRecord(const OSVERSIONINFOEXW& record);
// Back to no RtlGetVersion at all (the default).
void ClearVersionRecord();

// The machine's and the process's processor architecture (PROCESSOR_ARCHITECTURE_*); by default
// both are the real machine's.
void SetProcessorArchitecture(WORD native, WORD process);

// What GetProductInfo answers (PRODUCT_UNDEFINED by default).
void SetProductType(DWORD product_type);

// What GetSystemMetrics answers for one index.
void SetSystemMetric(int index, int value);

// Overrides the LCID read from the locale environment.
void SetUserDefaultLCID(LCID lcid);

}  // namespace platform::testing
