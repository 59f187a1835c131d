// Boost declares split_winmain only when building for Windows. This layer supplies the same
// function, with the same Windows rules for quotes and backslashes, for this platform.
#pragma once

#include <string>
#include <vector>

namespace boost::program_options {

std::vector<std::wstring> split_winmain(const std::wstring& command_line);
std::vector<std::string> split_winmain(const std::string& command_line);

}  // namespace boost::program_options
