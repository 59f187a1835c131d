// Internal to the layer: what the system exports table needs from the system facts.
#pragma once

namespace platform::detail {

// RtlGetVersion exists only while a test has set a version record.
bool HasVersionRecord();

}  // namespace platform::detail
