#include "platform/src/command_line.h"

#include <boost_split_winmain.h>
#include <platform/testing.h>

#include "platform/src/utf.h"

namespace platform::detail {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

}  // namespace

std::wstring QuoteArgument(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\f\r\"") == std::wstring_view::npos) {
        return std::wstring(argument);
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            // Backslashes before a quote are doubled, and the quote itself escaped.
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // Backslashes before the closing quote are doubled so they stay literal.
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::vector<std::wstring> SplitCommandLine(std::wstring_view command_line) {
    std::vector<std::wstring> tokens;
    std::size_t pos = 0;
    while (pos < command_line.size() && IsBlank(command_line[pos])) {
        ++pos;
    }
    if (pos == command_line.size()) {
        return tokens;
    }
    std::wstring current;
    bool in_quotes = false;
    bool had_quotes = false;  // an empty quoted part still makes a token
    std::size_t backslashes = 0;
    for (; pos < command_line.size(); ++pos) {
        const wchar_t c = command_line[pos];
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            current.append(backslashes / 2, L'\\');
            if (backslashes % 2 == 0) {
                in_quotes = !in_quotes;
                had_quotes = true;
            } else {
                current += L'"';
            }
            backslashes = 0;
            continue;
        }
        current.append(backslashes, L'\\');
        backslashes = 0;
        if (IsBlank(c) && !in_quotes) {
            tokens.push_back(std::move(current));
            current.clear();
            had_quotes = false;
            while (pos + 1 < command_line.size() && IsBlank(command_line[pos + 1])) {
                ++pos;
            }
            continue;
        }
        current += c;
    }
    current.append(backslashes, L'\\');
    if (!current.empty() || in_quotes || had_quotes) {
        tokens.push_back(std::move(current));
    }
    return tokens;
}

std::wstring_view ArgumentsAfterProgram(std::wstring_view command_line) {
    // The program path is split by the simpler rule the C runtime uses: quotes toggle, and
    // backslashes are never escapes there.
    std::size_t pos = 0;
    bool in_quotes = false;
    for (; pos < command_line.size(); ++pos) {
        const wchar_t c = command_line[pos];
        if (c == L'"') {
            in_quotes = !in_quotes;
        } else if ((c == L' ' || c == L'\t') && !in_quotes) {
            break;
        }
    }
    while (pos < command_line.size() && (command_line[pos] == L' ' || command_line[pos] == L'\t')) {
        ++pos;
    }
    return command_line.substr(pos);
}

}  // namespace platform::detail

namespace platform::testing {

std::wstring QuoteArgument(std::wstring_view argument) { return detail::QuoteArgument(argument); }

std::vector<std::wstring> SplitCommandLine(std::wstring_view command_line) {
    return detail::SplitCommandLine(command_line);
}

}  // namespace platform::testing

namespace boost::program_options {

std::vector<std::wstring> split_winmain(const std::wstring& command_line) {
    return platform::detail::SplitCommandLine(command_line);
}

std::vector<std::string> split_winmain(const std::string& command_line) {
    std::vector<std::string> tokens;
    for (const auto& token :
         platform::detail::SplitCommandLine(platform::detail::Utf8ToWide(command_line))) {
        tokens.push_back(platform::detail::WideToUtf8(token));
    }
    return tokens;
}

}  // namespace boost::program_options
