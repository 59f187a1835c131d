#include "file_reading.h"

#include <fstream>

std::string ReadFileBinary(const std::filesystem::path& file) {
    try {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            return {};
        }
        const auto size = std::filesystem::file_size(file);
        std::string bytes(static_cast<std::size_t>(size), '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(size));
        // A file that shrank meanwhile gives what it held, not a tail of zeros.
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return bytes;
    } catch (const std::exception&) {
        return {};
    }
}
