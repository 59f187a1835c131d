#include "common/module_path.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The longest path Windows keeps.
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::wstring ModuleFileName() {
    // The buffer grows while the name comes back truncated.
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    for (;;) {
        const auto size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            throw std::runtime_error("failed to get module file name. error=" +
                                     std::to_string(GetLastError()));
        }
        if (length < size) {
            return std::wstring(buffer.data(), length);
        }
        // Truncated (ERROR_INSUFFICIENT_BUFFER): the whole name needs more room.
        if (size >= kLongestPath) {
            throw std::runtime_error("failed to get module file name. error=" +
                                     std::to_string(ERROR_INSUFFICIENT_BUFFER));
        }
        buffer.assign(std::min<std::size_t>(std::size_t{size} * 2, kLongestPath), L'\0');
    }
}
