// Packs the localization files into the zip that the program carries as a resource: every
// entry stored (method 0), version needed 2.0, flags 0, no extra fields and no comments, in
// the order given on the command line, named by the file's bare name.
//
//     localization_zip OUTPUT.zip FILE...
//
// Entries carry a fixed time stamp (1980-01-01 00:00) so that the build is reproducible.
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kDosTime = 0;
constexpr std::uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;

class Writer {
public:
    void U16(std::uint16_t value) {
        bytes_.push_back(static_cast<char>(value & 0xFF));
        bytes_.push_back(static_cast<char>(value >> 8));
    }
    void U32(std::uint32_t value) {
        U16(static_cast<std::uint16_t>(value & 0xFFFF));
        U16(static_cast<std::uint16_t>(value >> 16));
    }
    void Bytes(const std::string& text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
    void Bytes(const std::vector<char>& data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    std::uint32_t Offset() const { return static_cast<std::uint32_t>(bytes_.size()); }
    const std::vector<char>& Data() const { return bytes_; }

private:
    std::vector<char> bytes_;
};

struct Entry {
    std::string name;
    std::vector<char> data;
    std::uint32_t crc = 0;
    std::uint32_t offset = 0;
};

// The fields that the local header and the central directory share, from "version needed" on.
void CommonFields(Writer& out, const Entry& entry) {
    out.U16(kVersion);
    out.U16(0);  // flags
    out.U16(0);  // stored
    out.U16(kDosTime);
    out.U16(kDosDate);
    out.U32(entry.crc);
    out.U32(static_cast<std::uint32_t>(entry.data.size()));  // compressed size
    out.U32(static_cast<std::uint32_t>(entry.data.size()));
    out.U16(static_cast<std::uint16_t>(entry.name.size()));
    out.U16(0);  // extra field length
}

Entry ReadEntry(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    Entry entry;
    entry.name = file.filename().string();
    entry.data.assign(std::istreambuf_iterator<char>(in), {});
    entry.crc =
        static_cast<std::uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(entry.data.data()),
                                         static_cast<uInt>(entry.data.size())));
    return entry;
}

std::vector<char> Pack(std::vector<Entry> entries) {
    Writer out;
    for (auto& entry : entries) {
        entry.offset = out.Offset();
        out.U32(0x04034b50);
        CommonFields(out, entry);
        out.Bytes(entry.name);
        out.Bytes(entry.data);
    }
    const std::uint32_t directory = out.Offset();
    for (const auto& entry : entries) {
        out.U32(0x02014b50);
        out.U16(kVersion);  // made by: MS-DOS, 2.0
        CommonFields(out, entry);
        out.U16(0);  // comment length
        out.U16(0);  // disk number
        out.U16(0);  // internal attributes
        out.U32(0);  // external attributes
        out.U32(entry.offset);
        out.Bytes(entry.name);
    }
    const std::uint32_t directory_size = out.Offset() - directory;
    out.U32(0x06054b50);
    out.U16(0);
    out.U16(0);
    out.U16(static_cast<std::uint16_t>(entries.size()));
    out.U16(static_cast<std::uint16_t>(entries.size()));
    out.U32(directory_size);
    out.U32(directory);
    out.U16(0);  // comment length
    return out.Data();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: localization_zip OUTPUT.zip FILE...\n";
        return 2;
    }
    try {
        std::vector<Entry> entries;
        for (int i = 2; i < argc; ++i) {
            entries.push_back(ReadEntry(argv[i]));
        }
        const auto zip = Pack(std::move(entries));
        std::ofstream out(argv[1], std::ios::binary);
        out.write(zip.data(), static_cast<std::streamsize>(zip.size()));
        if (!out) {
            throw std::runtime_error(std::string("cannot write ") + argv[1]);
        }
    } catch (const std::exception& error) {
        std::cerr << "localization_zip: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
