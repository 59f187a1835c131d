// UTF-8 <-> UTF-16 for the engine's own texts (scenario files, transcripts, pages).
#pragma once

#include <string>
#include <string_view>

namespace engine_stand_in::detail {

// Invalid input becomes U+FFFD.
std::u16string Utf8ToUnits(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string UnitsToUtf8(std::u16string_view units);

}  // namespace engine_stand_in::detail
