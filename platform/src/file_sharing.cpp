#include "platform/src/file_sharing.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>
#include <vector>

namespace platform::detail {
namespace {

struct Registered {
    std::uint64_t id;
    FileIdentity identity;
    OpenMode mode;
    int descriptor;
    int reader = -1;  // the read-only descriptor its claim kept, or -1
};

struct Registry {
    std::mutex mutex;
    std::vector<Registered> opens;
    std::uint64_t next_id = 1;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

constexpr DWORD kForeignShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

DWORD AccessOfFlags(int flags) {
    if ((flags & O_PATH) != 0) {
        return 0;
    }
    switch (flags & O_ACCMODE) {
        case O_WRONLY:
            return GENERIC_WRITE;
        case O_RDWR:
            return GENERIC_READ | GENERIC_WRITE;
        default:
            return GENERIC_READ;
    }
}

// Windows' rule, both ways round: each side's access must be allowed by the other's sharing.
// An open for facts only takes part in no sharing check.
bool Compatible(const OpenMode& a, const OpenMode& b) {
    if (a.access == 0 || b.access == 0) {
        return true;
    }
    const auto allows = [](const OpenMode& holder, const OpenMode& other) {
        return ((other.access & GENERIC_READ) == 0 || (holder.share & FILE_SHARE_READ) != 0) &&
               ((other.access & GENERIC_WRITE) == 0 || (holder.share & FILE_SHARE_WRITE) != 0) &&
               ((other.access & DELETE) == 0 || (holder.share & FILE_SHARE_DELETE) != 0);
    };
    return allows(a, b) && allows(b, a);
}

bool IsLayerDescriptor(const Registry& registry, int descriptor) {
    for (const auto& open : registry.opens) {
        if (open.descriptor == descriptor || (open.reader >= 0 && open.reader == descriptor)) {
            return true;
        }
    }
    return false;
}

// Calls `visit` with every numeric entry of the folder until it answers false.
template <typename Visit>
void ForEachNumberedEntry(const std::string& folder, Visit visit) {
    DIR* const directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        return;  // gone, or not ours to read
    }
    // The listing's own descriptor shows up too; it never names a file we look for.
    while (const dirent* entry = ::readdir(directory)) {
        char* end = nullptr;
        const long number = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') {
            continue;
        }
        if (!visit(static_cast<int>(number))) {
            break;
        }
    }
    ::closedir(directory);
}

std::optional<int> FlagsFromFdinfo(const std::string& fdinfo) {
    std::ifstream in(fdinfo);
    std::string key;
    std::string value;
    while (in >> key >> value) {
        if (key == "flags:") {
            return static_cast<int>(std::strtol(value.c_str(), nullptr, 8));
        }
    }
    return std::nullopt;
}

// Modes of the opens of the file outside the layer; stops early once `enough` says so.
template <typename Enough>
void ForeignOpens(const Registry& registry, FileIdentity identity, const PathOfFile& path,
                  Enough enough) {
    bool done = false;
    ForEachNumberedEntry("/proc/self/fd", [&](int descriptor) {
        if (IsLayerDescriptor(registry, descriptor)) {
            return true;
        }
        struct stat facts {};
        if (::fstat(descriptor, &facts) != 0 ||
            FileIdentity{facts.st_dev, facts.st_ino} != identity) {
            return true;
        }
        const int flags = ::fcntl(descriptor, F_GETFL);
        if (flags == -1) {
            return true;
        }
        done = enough(OpenMode{AccessOfFlags(flags), kForeignShare});
        return !done;
    });
    if (done) {
        return;
    }

    // Other processes: a cheap match on the link text first, the identity to be sure.
    std::error_code error;
    const std::string canonical = std::filesystem::weakly_canonical(path(), error).string();
    const pid_t self = ::getpid();
    ForEachNumberedEntry("/proc", [&](int pid) {
        if (pid == self) {
            return true;
        }
        const std::string process = "/proc/" + std::to_string(pid);
        ForEachNumberedEntry(process + "/fd", [&](int descriptor) {
            const std::string link = process + "/fd/" + std::to_string(descriptor);
            char target[4096];
            const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
            if (length <= 0 ||
                std::string_view(target, static_cast<std::size_t>(length)) != canonical) {
                return true;
            }
            struct stat facts {};
            if (::stat(link.c_str(), &facts) != 0 ||
                FileIdentity{facts.st_dev, facts.st_ino} != identity) {
                return true;
            }
            const auto flags = FlagsFromFdinfo(process + "/fdinfo/" + std::to_string(descriptor));
            done = enough(OpenMode{flags ? AccessOfFlags(*flags) : GENERIC_READ, kForeignShare});
            return !done;
        });
        return !done;
    });
}

// Ignores SIGIO, once before the first lease, unless the program has a disposition of its own
// for it: a lease break must never end the process, whatever signal the kernel sends.
void HarmlessSigio() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGIO, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
            current.sa_handler != SIG_DFL) {
            return;
        }
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGIO, &ignore, nullptr);
    });
}

// What the kernel says of the other open file descriptions of a file.
enum class KernelAnswer { kFree, kHeld, kUnknown };

// A lease is granted only while no other open file description holds the file for writing (a
// read lease) or at all (a write lease), and the kernel keeps those counts: the answer costs
// one call, however many processes and descriptors there are. A read lease needs a read-only
// descriptor of the file; a write lease on the layer's own writer asks the same "any other
// open" question, as the kernel does not count the lease taker's own description. Only the
// owner of a file (or a holder of CAP_LEASE) may take one, and only on a regular file:
// otherwise the answer is unknown. The lease is let go at once; were someone to open the file in
// that moment, the break is signalled with SIGURG, which is ignored, instead of SIGIO, which
// would end the process. The signal is set before every lease, and SIGIO is ignored too (see
// HarmlessSigio): runs here still died of SIGIO when other processes opened the same files.
KernelAnswer AskByLease(int descriptor, bool any_open) {
    HarmlessSigio();
    if (::fcntl(descriptor, F_SETSIG, SIGURG) != 0) {
        return KernelAnswer::kUnknown;
    }
    if (::fcntl(descriptor, F_SETLEASE, any_open ? F_WRLCK : F_RDLCK) == 0) {
        ::fcntl(descriptor, F_SETLEASE, F_UNLCK);
        return KernelAnswer::kFree;
    }
    return errno == EAGAIN ? KernelAnswer::kHeld : KernelAnswer::kUnknown;
}

bool IsWriter(int flags) {
    return flags != -1 && (flags & O_PATH) == 0 && (flags & O_ACCMODE) != O_RDONLY;
}

// A read-only descriptor of the open `descriptor` (of status flags `flags`, not a writer) for
// the lease, or -1. A facts-only descriptor is opened anew as the very object it holds.
int ReaderOf(int descriptor, int flags) {
    if (flags != -1 && (flags & O_PATH) == 0 && (flags & O_ACCMODE) == O_RDONLY) {
        return ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);  // the same description: not counted twice
    }
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    return ::open(link.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// Whether the layer holds a data open of the file other than `except`: the kernel counts it
// like any other, so only the scan can tell it apart.
bool LayerHoldsData(const Registry& registry, FileIdentity identity, int except) {
    for (const auto& open : registry.opens) {
        if (open.identity == identity && open.descriptor != except && open.mode.access != 0) {
            return true;
        }
    }
    return false;
}

// Whether an open outside the layer clashes with `mode`: outside opens share reading and
// writing, never deletion. The kernel answers where it can, the scan of /proc otherwise. With
// `kept`, a reader the kernel answered by is handed over there instead of being closed.
bool ForeignClash(const Registry& registry, FileIdentity identity, const PathOfFile& path,
                  OpenMode mode, int descriptor, int* kept) {
    const bool clashes_with_readers = !Compatible({GENERIC_READ, kForeignShare}, mode);
    const bool clashes_with_writers = !Compatible({GENERIC_WRITE, kForeignShare}, mode);
    if (!clashes_with_readers && !clashes_with_writers) {
        return false;  // no outside open can clash with this one
    }
    // The kernel tells "any open" and "any writer" apart, not "any reader".
    if (clashes_with_writers) {
        const int flags = ::fcntl(descriptor, F_GETFL);
        const bool writer = IsWriter(flags);
        // The layer's own writer asks "any open" itself: a yes is a clash only for an open
        // that shares no reading either.
        const int asker = writer ? descriptor : ReaderOf(descriptor, flags);
        if (asker >= 0) {
            const KernelAnswer answer = AskByLease(asker, writer || clashes_with_readers);
            if (kept != nullptr && !writer && answer == KernelAnswer::kFree) {
                *kept = asker;
                return false;
            }
            if (!writer) {
                ::close(asker);
            }
            if (answer == KernelAnswer::kFree) {
                return false;
            }
            // A writer's "yes, other opens" may be readers only, which this open shares with.
            const bool conclusive = !writer || clashes_with_readers;
            if (answer == KernelAnswer::kHeld && conclusive &&
                !LayerHoldsData(registry, identity, descriptor)) {
                return true;
            }
        }
    }
    bool clash = false;
    ForeignOpens(registry, identity, path, [&](const OpenMode& foreign) {
        clash = !Compatible(foreign, mode);
        return clash;
    });
    return clash;
}

}  // namespace

SharingClaim::~SharingClaim() {
    auto& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    if (reader_ >= 0) {
        ::close(reader_);  // under the lock: no scan sees it unregistered
    }
    std::erase_if(registry.opens, [this](const Registered& open) { return open.id == id_; });
}

std::unique_ptr<SharingClaim> ClaimSharing(FileIdentity identity, const PathOfFile& path,
                                           OpenMode mode, int descriptor, DWORD& error) {
    auto& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    bool clash = false;
    for (const auto& open : registry.opens) {
        if (open.identity == identity && !Compatible(open.mode, mode)) {
            clash = true;
            break;
        }
    }
    int kept = -1;
    if (!clash) {
        // The new descriptor is not registered yet: keep the scan from finding it.
        registry.opens.push_back({0, {}, {}, descriptor});
        // Only a deletion asks again, so only an open that may delete keeps its reader.
        clash = ForeignClash(registry, identity, path, mode, descriptor,
                             (mode.access & DELETE) != 0 ? &kept : nullptr);
        registry.opens.pop_back();
    }
    if (clash) {
        error = ERROR_SHARING_VIOLATION;
        return nullptr;
    }
    const std::uint64_t id = registry.next_id++;
    registry.opens.push_back({id, identity, mode, descriptor, kept});
    return std::make_unique<SharingClaim>(id, kept);
}

DWORD RemoveUnlessHeld(FileIdentity identity, const PathOfFile& path,
                       const std::function<DWORD()>& remove, int own, int reader) {
    auto& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    bool held = false;
    for (const auto& open : registry.opens) {
        if (open.identity == identity && open.descriptor != own &&
            (open.mode.share & FILE_SHARE_DELETE) == 0) {
            held = true;
            break;
        }
    }
    if (!held) {
        // Outside the layer nothing shares for deletion: any open there holds the file.
        KernelAnswer answer = KernelAnswer::kUnknown;
        if (reader >= 0) {
            answer = AskByLease(reader, true);
        } else {
            const int opened =
                ::open(path().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
            struct stat facts {};
            if (opened >= 0 && ::fstat(opened, &facts) == 0 &&
                FileIdentity{facts.st_dev, facts.st_ino} == identity) {
                answer = AskByLease(opened, true);
            }
            if (opened >= 0) {
                ::close(opened);
            }
        }
        // The deleting handle's own data open counts for the kernel as any other: then only
        // the scan tells whether anything else holds the file.
        const bool own_data =
            std::any_of(registry.opens.begin(), registry.opens.end(), [&](const auto& open) {
                return open.identity == identity && open.descriptor == own &&
                       (open.mode.access & (GENERIC_READ | GENERIC_WRITE)) != 0;
            });
        if (answer == KernelAnswer::kFree || (answer == KernelAnswer::kHeld && !own_data &&
                                              !LayerHoldsData(registry, identity, own))) {
            held = answer == KernelAnswer::kHeld;
        } else {
            ForeignOpens(registry, identity, path, [&](const OpenMode&) {
                held = true;
                return true;
            });
        }
    }
    return held ? static_cast<DWORD>(ERROR_SHARING_VIOLATION) : remove();
}

}  // namespace platform::detail
