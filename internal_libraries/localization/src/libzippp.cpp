#include "internal_libraries/localization/src/libzippp.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <utility>

namespace libzippp {
namespace {

// Deflate's greatest ratio: an entry cannot hold more than this many times the archive's bytes.
constexpr std::uint64_t kMaxInflateRatio = 1032;

zip_flags_t FlagsOf(ZipArchive::State state) {
    return state == ZipArchive::Original ? ZIP_FL_UNCHANGED | ZIP_FL_ENC_RAW : 0;
}

struct FileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ScopedFile = std::unique_ptr<zip_file_t, FileCloser>;

}  // namespace

ZipArchive::ZipArchive(std::string path) : path(std::move(path)) {}

ZipArchive::~ZipArchive() { close(); }

std::unique_ptr<ZipArchive> ZipArchive::fromBuffer(const void* data, std::uint32_t size,
                                                   OpenMode mode, bool check_consistency) {
    if (mode != ReadOnly) {
        return nullptr;  // writing back into the caller's memory is not built
    }
    auto archive = std::make_unique<ZipArchive>();
    zip_error_t error;
    zip_error_init(&error);
    zip_source* const source = zip_source_buffer_create(data, size, 0, &error);
    if (source == nullptr) {
        std::fprintf(stderr, "can't create zip source: %s\n", zip_error_strerror(&error));
        zip_error_fini(&error);
        return nullptr;
    }
    zip_error_fini(&error);
    if (!archive->open(source, mode, check_consistency)) {
        zip_source_free(source);  // an archive that did not open leaves the source to us
        return nullptr;
    }
    archive->bytes = size;
    return archive;
}

bool ZipArchive::open(zip_source* zip_source, OpenMode open_mode, bool check_consistency) {
    int flags = 0;
    switch (open_mode) {
        case ReadOnly:
            flags = 0;
            break;
        case Write:
            flags = ZIP_CREATE;
            break;
        case New:
            flags = ZIP_CREATE | ZIP_TRUNCATE;
            break;
        default:
            return false;
    }
    if (check_consistency) {
        flags |= ZIP_CHECKCONS;
    }
    zip_error_t error;
    zip_error_init(&error);
    zip* const opened = zip_open_from_source(zip_source, flags, &error);
    if (opened == nullptr) {
        std::fprintf(stderr, "can't open zip from source: %s\n", zip_error_strerror(&error));
        zip_error_fini(&error);
        return false;
    }
    zip_error_fini(&error);
    handle = opened;
    source = zip_source;
    mode = open_mode;
    return true;
}

std::vector<ZipEntry> ZipArchive::getEntries(State state) const {
    std::vector<ZipEntry> entries;
    if (!isOpen()) {
        return entries;
    }
    const zip_flags_t flags = FlagsOf(state);
    const zip_int64_t count = zip_get_num_entries(handle, flags);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(handle, static_cast<zip_uint64_t>(i), flags, &stat) != 0) {
            continue;
        }
        ZipEntry entry;
        entry.archive = this;
        entry.name = stat.name != nullptr ? stat.name : "";
        entry.index = stat.index;
        entry.modification_time = stat.mtime;
        entry.compression_method = stat.comp_method;
        entry.encryption_method = stat.encryption_method;
        entry.size = stat.size;
        entry.compressed_size = stat.comp_size;
        entry.crc = stat.crc;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::unique_ptr<char[]> ZipArchive::readEntry(const ZipEntry& entry, State state,
                                              std::uint64_t size) const {
    if (!isOpen() || entry.archive != this) {
        return nullptr;
    }
    // The declared size is only the archive's word: more than its bytes can inflate to is refused
    // before anything is allocated. On a 32-bit target the bound must also fit a size_t.
    const std::uint64_t limit = std::min<std::uint64_t>(
        bytes * kMaxInflateRatio, std::numeric_limits<std::size_t>::max() - 1);
    if (entry.size > limit) {
        return nullptr;
    }
    const ScopedFile file(zip_fopen_index(handle, entry.index, FlagsOf(state)));
    if (!file) {
        return nullptr;
    }
    const std::uint64_t count = size == 0 || size > entry.size ? entry.size : size;
    // One byte more, so that an empty entry still has a buffer to hand back.
    std::unique_ptr<char[]> buffer;
    try {
        buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(count + 1));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const zip_int64_t read = zip_fread(file.get(), buffer.get(), count);
    if (read < 0 || static_cast<std::uint64_t>(read) != count) {
        return nullptr;  // shorter than declared
    }
    // A whole entry must end where it says: reading on to the end also makes libzip check the
    // CRC. Data beyond the declared size is not handed out as if it were all.
    if (count == entry.size && zip_fread(file.get(), buffer.get() + count, 1) != 0) {
        return nullptr;
    }
    return buffer;
}

int ZipArchive::close() {
    if (!isOpen()) {
        return 0;
    }
    const int result = zip_close(handle);
    if (result != 0) {
        // The archive stays open on failure; discard drops it without writing.
        zip_discard(handle);
    }
    handle = nullptr;
    source = nullptr;
    mode = NotOpen;
    return result;
}

std::unique_ptr<char[]> ZipEntry::readAsBinary(ZipArchive::State state, std::uint64_t size) const {
    return archive == nullptr ? nullptr : archive->readEntry(*this, state, size);
}

}  // namespace libzippp
