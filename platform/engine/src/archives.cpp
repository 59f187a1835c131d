// Archives: the interface archive read in place; an item's expanded bytes stay with the
// archive until it is closed.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "tools/ui_archive/reader.h"

#include "platform/engine/src/window_members.h"

namespace engine_stand_in::detail {

namespace {

struct Archive {
    explicit Archive(ui_archive::ArchiveReader r) : reader(std::move(r)) {}
    const ui_archive::ArchiveReader reader;
    std::map<std::size_t, std::vector<BYTE>> expanded;
};

struct ArchiveTable {
    std::mutex mutex;
    std::map<HSARCHIVE, std::unique_ptr<Archive>> open;
};

ArchiveTable& Archives() {
    static ArchiveTable table;
    return table;
}

}  // namespace

HSARCHIVE SCAPI SciterOpenArchive(const BYTE* data, UINT size) {
    if (data == nullptr) {
        return nullptr;
    }
    auto reader = ui_archive::ArchiveReader::Open(std::span<const std::uint8_t>(data, size));
    if (!reader) {
        return nullptr;
    }
    auto archive = std::make_unique<Archive>(std::move(*reader));
    const HSARCHIVE handle = archive.get();
    auto& table = Archives();
    const std::lock_guard lock(table.mutex);
    table.open.emplace(handle, std::move(archive));
    return handle;
}

BOOL SCAPI SciterCloseArchive(HSARCHIVE handle) {
    auto& table = Archives();
    const std::lock_guard lock(table.mutex);
    return table.open.erase(handle) == 1 ? TRUE : FALSE;
}

BOOL SCAPI SciterGetArchiveItem(HSARCHIVE handle, const char16_t* path, const BYTE** data,
                                UINT* size) {
    if (data == nullptr || size == nullptr) {
        return FALSE;
    }
    *data = nullptr;
    *size = 0;
    if (path == nullptr) {
        return FALSE;
    }
    auto& table = Archives();
    const std::lock_guard lock(table.mutex);
    const auto found = table.open.find(handle);
    if (found == table.open.end()) {
        return FALSE;
    }
    Archive& archive = *found->second;
    const auto index = archive.reader.Find(std::u16string_view(path));
    if (!index) {
        return FALSE;
    }
    auto cached = archive.expanded.find(*index);
    if (cached == archive.expanded.end()) {
        auto bytes = archive.reader.Expand(*index);
        if (!bytes) {
            return FALSE;
        }
        cached = archive.expanded.emplace(*index, std::move(*bytes)).first;
    }
    *data = cached->second.data();
    *size = static_cast<UINT>(cached->second.size());
    return TRUE;
}

}  // namespace engine_stand_in::detail
