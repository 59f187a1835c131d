// Windows' command-line rules: quoting one argument, splitting a command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

// Quotes an argument so that SplitCommandLine gives it back unchanged.
std::wstring QuoteArgument(std::wstring_view argument);

// The rules that Boost's split_winmain applies: white space separates tokens outside quotes;
// 2n backslashes before a quote give n backslashes and the quote opens or closes a quoted
// part; 2n+1 backslashes before a quote give n backslashes and a literal quote; other
// backslashes are literal. An empty quoted part ("") is an empty token.
std::vector<std::wstring> SplitCommandLine(std::wstring_view command_line);

// The part of a command line after the program path, as the C runtime hands it to wWinMain.
std::wstring_view ArgumentsAfterProgram(std::wstring_view command_line);

}  // namespace platform::detail
