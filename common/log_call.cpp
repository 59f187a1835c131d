#include "common/log_call.h"

namespace logging {

std::string QualifiedFunctionName(std::string_view pretty) {
    // The parameter list starts at the first "(" outside template arguments; "operator()"
    // keeps its own pair.
    int depth = 0;
    std::size_t open = std::string_view::npos;
    for (std::size_t i = 0; i < pretty.size(); ++i) {
        const char c = pretty[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>' && depth > 0) {
            --depth;
        } else if (c == '(' && depth == 0) {
            if (pretty.substr(0, i).ends_with("operator") && pretty.substr(i).starts_with("()")) {
                ++i;
                continue;
            }
            open = i;
            break;
        }
    }
    const auto head = pretty.substr(0, open);
    // The return type ends at the last blank outside template arguments.
    std::size_t start = 0;
    depth = 0;
    for (std::size_t i = head.size(); i-- > 0;) {
        const char c = head[i];
        if (c == '>') {
            ++depth;
        } else if (c == '<' && depth > 0) {
            --depth;
        } else if (c == ' ' && depth == 0 && !head.substr(0, i).ends_with("operator")) {
            start = i + 1;
            break;
        }
    }
    auto name = head.substr(start);
    while (!name.empty() && (name.front() == '*' || name.front() == '&')) {
        name.remove_prefix(1);
    }
    return std::string(name);
}

}  // namespace logging
