// Test controls for the file calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::testing {

// After `bytes` more bytes, WriteFile writes only what still fits and then fails with
// ERROR_DISK_FULL, as on a full disk. std::nullopt lifts the limit (the default).
void SetWriteLimit(std::optional<std::uint64_t> bytes);

// Runs `callback` just before the emulated call `function` (its Windows name) acts on the object
// whose full path is `path`, before any check the call makes, so that the callback can swap
// what is there at the worst moment; `times` matching calls (times < 0: every one). The path is
// the one given to CreateFileW made absolute (and lexically normal), the root folder's real path
// and "/" and the name for NtCreateFile, and, for a call on a handle (ReadFile, WriteFile,
// SetFilePointer, SetEndOfFile, GetFileInformationByHandle, GetFileInformationByHandleEx,
// SetFileInformationByHandle), the path its object was opened at (or renamed to through it).
// Any thread may make the call; the callback runs on that thread, with no lock of the layer
// held, and the file calls it makes itself run no callbacks. Reset() clears them too.
void BeforeCall(std::string_view function, std::string path, std::function<void()> callback,
                int times = 1);
void ClearBeforeCalls();

}  // namespace platform::testing
