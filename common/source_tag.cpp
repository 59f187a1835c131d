#include "common/source_tag.h"

#include <mutex>
#include <unordered_map>

namespace {

std::mutex g_source_tag_mutex;
std::unordered_map<std::string, std::string> g_source_tags;

// Everything after the last slash or backslash: compilers on Windows write backslashes.
std::string FileNameOf(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

}  // namespace

const std::string& GetSourceTag(const std::string& tag, const std::string& path) {
    const std::lock_guard lock(g_source_tag_mutex);
    auto found = g_source_tags.find(path);
    if (found == g_source_tags.end()) {
        found = g_source_tags.emplace(path, tag + ":" + FileNameOf(path)).first;
    }
    // Entries are never removed and unordered_map never moves them, so the reference outlives
    // the lock.
    return found->second;
}
