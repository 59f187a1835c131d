// Test controls for the file calls.
#pragma once

#include <cstdint>
#include <optional>

namespace platform::testing {

// After `bytes` more bytes, WriteFile writes only what still fits and then fails with
// ERROR_DISK_FULL, as on a full disk. std::nullopt lifts the limit (the default).
void SetWriteLimit(std::optional<std::uint64_t> bytes);

}  // namespace platform::testing
