#include "src/command_line.h"

#include <windows.h>

#include "common/text_conversion.h"

#include <boost/program_options.hpp>
#ifndef _WIN32
#include <boost_split_winmain.h>
#endif

#include <exception>
#include <string>
#include <vector>

namespace po = boost::program_options;

po::variables_map ParseCommandLine() {
    po::variables_map result;
    try {
        // The first token, the program's path, is positional and dropped when storing.
        const std::vector<std::wstring> tokens = po::split_winmain(GetCommandLineW());

        po::options_description description("Allowed options");
        description.add_options()("crash-uuid", po::value<std::string>(), "crash-uuid")(
            "email", po::value<std::string>(), "email")(
            "product", po::value<std::string>(), "product")("version", po::value<std::string>(),
                                                            "version");

        // Boost's wide parser would hand narrow values through the current locale's code page;
        // parsing the UTF-8 form of the same tokens keeps every value UTF-8 whatever the locale.
        std::vector<std::string> utf8_tokens;
        utf8_tokens.reserve(tokens.size());
        for (const auto& token : tokens) {
            utf8_tokens.push_back(Utf16ToUtf8(token));
        }
        const auto parsed =
            po::command_line_parser(utf8_tokens).options(description).allow_unregistered().run();
        po::store(parsed, result);
        po::notify(result);
    } catch (const std::exception&) {
        // A bad command line is not reported: missing options read as empty strings.
    }
    return result;
}

std::string GetOptionString(const po::variables_map& options, const std::string& name) {
    const auto found = options.find(name);
    if (found == options.end()) {
        return {};
    }
    return found->second.as<std::string>();
}
