#include "file_reading.h"

#include <windows.h>

#include <exception>

#include "common/path_conversion.h"
#include "no_follow_folder.h"

std::string ReadFileBinary(const std::filesystem::path& file) {
    try {
        const auto folder = NoFollowFolder::Open(file.parent_path());
        const std::wstring name = PathToWide(file.filename());
        if (!folder || WideToPath(name) != file.filename()) {
            return {};
        }
        const ScopedHandle source =
            folder->OpenFile(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        const auto facts = source ? FactsOf(source.get()) : std::nullopt;
        if (!facts) {
            return {};
        }
        std::string bytes(static_cast<std::size_t>(facts->size), '\0');
        std::size_t total = 0;
        while (total < bytes.size()) {
            const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - total, 1u << 30));
            DWORD got = 0;
            if (ReadFile(source.get(), bytes.data() + total, wanted, &got, nullptr) == FALSE) {
                return {};
            }
            if (got == 0) {
                break;
            }
            total += got;
        }
        // A file that shrank meanwhile gives what it held, not a tail of zeros.
        bytes.resize(total);
        return bytes;
    } catch (const std::exception&) {
        return {};
    }
}
