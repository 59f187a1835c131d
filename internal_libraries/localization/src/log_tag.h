// The component tag of every log line of the library.
#pragma once

namespace Localization {
inline constexpr char kLogTag[] = "localization_lib_mt";
}
