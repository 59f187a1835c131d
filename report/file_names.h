// Names that the report client joins to one of the product's folders.
#pragma once

#include <string_view>

// True for a name that stays inside the folder it is joined to: not empty, not "." or "..",
// and without a separator ('/' or '\'), a drive or stream colon, or a control character.
bool IsBareFileName(std::wstring_view name);
// The same for UTF-8 text, such as the crash identifier that names the dump and the archive.
bool IsBareFileName(std::string_view name);
