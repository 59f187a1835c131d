#include "internal_libraries/localization/src/resource_extractor.h"

#include <algorithm>
#include <stdexcept>

#include "internal_libraries/localization/src/libzippp.h"

namespace ResourceHelper::Extractor {

std::vector<char> LoadResourceBytes(HMODULE module, HRSRC resource) {
    const HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) {
        throw std::runtime_error("failed to load resource");
    }
    const void* const data = LockResource(loaded);
    if (data == nullptr) {
        throw std::runtime_error("failed to lock resource");
    }
    const DWORD size = SizeofResource(module, resource);
    if (size == 0) {
        throw std::runtime_error("failed to get size of resource. error=" +
                                 std::to_string(GetLastError()));
    }
    const auto* const bytes = static_cast<const char*>(data);
    return {bytes, bytes + size};
}

std::vector<char> Extract(int type_id, const std::wstring& resource_name,
                          const std::string& file_name) {
    const HMODULE module = GetModuleHandleW(nullptr);
    if (module == nullptr) {
        throw std::runtime_error("failed to get module handle");
    }
    const HRSRC resource = FindResourceW(module, resource_name.c_str(), MAKEINTRESOURCEW(type_id));
    if (resource == nullptr) {
        throw std::runtime_error("failed to find resource");
    }
    const std::vector<char> bytes = LoadResourceBytes(module, resource);

    // Closed and deleted on every way out, before the bytes it reads are released.
    const auto archive =
        libzippp::ZipArchive::fromBuffer(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                         libzippp::ZipArchive::ReadOnly, false);
    if (!archive) {
        throw std::runtime_error("failed to create zip archive from buffer");
    }
    const auto entries = archive->getEntries(libzippp::ZipArchive::Current);
    const auto entry = std::find_if(entries.begin(), entries.end(), [&](const auto& candidate) {
        return candidate.getName() == file_name;
    });
    if (entry == entries.end()) {
        throw std::runtime_error("no item in archive");
    }
    const auto content = entry->readAsBinary(libzippp::ZipArchive::Current, 0);
    if (!content) {
        throw std::runtime_error("failed to read item from archive");
    }
    return {content.get(), content.get() + entry->getSize()};
}

}  // namespace ResourceHelper::Extractor
