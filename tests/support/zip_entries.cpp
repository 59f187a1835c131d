#include "tests/support/zip_entries.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <memory>

namespace test_support {

std::vector<ZipEntryRead> ReadZipEntries(const std::string& archive) {
    std::vector<ZipEntryRead> entries;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    std::unique_ptr<zip_t, decltype(&zip_discard)> zip(
        source == nullptr ? nullptr : zip_open_from_source(source, ZIP_RDONLY, &error),
        &zip_discard);
    if (!zip) {
        ADD_FAILURE() << "libzip cannot open the archive: " << zip_error_strerror(&error);
        if (source != nullptr) {
            zip_source_free(source);
        }
        zip_error_fini(&error);
        return entries;
    }
    zip_error_fini(&error);
    for (zip_int64_t index = 0; index < zip_get_num_entries(zip.get(), 0); ++index) {
        const auto at = static_cast<zip_uint64_t>(index);
        ZipEntryRead entry;
        entry.name = zip_get_name(zip.get(), at, ZIP_FL_ENC_RAW);
        entry.strict_name = zip_get_name(zip.get(), at, ZIP_FL_ENC_STRICT);
        zip_stat_t facts;
        zip_stat_index(zip.get(), at, 0, &facts);
        entry.content.resize(static_cast<std::size_t>(facts.size));
        const std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(
            zip_fopen_index(zip.get(), at, 0), &zip_fclose);
        if (!file || zip_fread(file.get(), entry.content.data(), entry.content.size()) !=
                         static_cast<zip_int64_t>(entry.content.size())) {
            ADD_FAILURE() << "libzip cannot read the entry " << entry.name;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace test_support
