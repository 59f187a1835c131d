// The one way between wide text and std::filesystem::path. On this platform file names are
// UTF-8 bytes, and std::filesystem's own wide conversion throws for any character outside
// ASCII; these convert through Utf16ToUtf8 / Utf8ToUtf16 instead. Where a path's native text is
// wide (Windows) they hand the text over unchanged.
//
// Exact both ways for every name that is UTF-8. Bytes of a name that are not UTF-8 become
// U+FFFD, so that name has no wide form: WideToPath(PathToWide(p)) != p tells it. A failed
// conversion gives an empty result, as the text conversions do. Neither throws for bad text.
#pragma once

#include <filesystem>
#include <string>

std::filesystem::path WideToPath(const std::wstring& text);
std::wstring PathToWide(const std::filesystem::path& path);
