// Files out of a zip archive held as a resource of the program's own module. Every call finds,
// copies and opens the resource anew; failures throw std::runtime_error and log nothing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ResourceHelper::Extractor {

// The whole content of the entry `file_name` (compared with case) of the zip in the resource
// `resource_name` (found without regard to case) of integer type `type_id`.
std::vector<char> Extract(int type_id, const std::wstring& resource_name,
                          const std::string& file_name);

// A copy of the resource's bytes.
std::vector<char> LoadResourceBytes(HMODULE module, HRSRC resource);

}  // namespace ResourceHelper::Extractor
