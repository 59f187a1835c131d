// Windows sharing between the open handles of one file. The layer's own handles register here;
// descriptors opened outside the layer (by this process or, where /proc lets us see them, by
// another) are found in /proc and count as shared for reading and writing, never for deletion.
#pragma once

#include <windows.h>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform::detail {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Access as GENERIC_READ | GENERIC_WRITE | DELETE, share as FILE_SHARE_* bits.
struct OpenMode {
    DWORD access = 0;
    DWORD share = 0;
};

// The path that other processes' opens of a file are matched by; made only when /proc has to
// be scanned, which is rare, so the common check costs no readlink.
using PathOfFile = std::function<std::string()>;

// A registered open of the layer; the registration ends with the object. An open with delete
// access whose check the kernel answered keeps the read-only descriptor it asked with, so that
// the check again at the deletion is one question on it, without a new open.
class SharingClaim {
public:
    SharingClaim(std::uint64_t id, int reader) : id_(id), reader_(reader) {}
    SharingClaim(const SharingClaim&) = delete;
    SharingClaim& operator=(const SharingClaim&) = delete;
    ~SharingClaim();

    // The kept read-only descriptor of the file, or -1.
    int reader() const { return reader_; }

private:
    std::uint64_t id_;
    int reader_;
};

// Checks `mode` against every other open of the file (the layer's descriptor `descriptor` is
// the new open itself) and registers it. nullptr with ERROR_SHARING_VIOLATION on a clash.
std::unique_ptr<SharingClaim> ClaimSharing(FileIdentity identity, const PathOfFile& path,
                                           OpenMode mode, int descriptor, DWORD& error);

// Runs `remove` unless an open of the file lacks delete sharing (then ERROR_SHARING_VIOLATION);
// the check and the removal happen under one lock so no layer open slips in between. The
// layer's own descriptor `own` (the handle that deletes) is not counted, nor the reader its
// claim kept (`reader`, or -1). `remove` returns a Windows error number, 0 on success.
DWORD RemoveUnlessHeld(FileIdentity identity, const PathOfFile& path,
                       const std::function<DWORD()>& remove, int own = -1, int reader = -1);

}  // namespace platform::detail
