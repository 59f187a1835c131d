// The run's log file as an spdlog sink over the one handle that was checked when the file was
// made: records go to that file and nowhere else, whatever is later put at its name. The
// handle is shared for reading and writing but not for deletion, so the zip writer (which
// shares reading only) leaves the running log out and the clean-up cannot delete it.
#pragma once

#include <spdlog/sinks/base_sink.h>

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>

#include "common/scoped_handle.h"

// Writes each record at once; a record that would take the file past `max_size` bytes empties
// it first, through the handle, so no earlier content survives. Guarded by its own mutex.
class LogFileSink final : public spdlog::sinks::base_sink<std::mutex> {
public:
    LogFileSink(ScopedHandle file, std::string path, std::size_t max_size);

protected:
    void sink_it_(const spdlog::details::log_msg& message) override;
    void flush_() override {}  // every write goes to the file at once

private:
    void Empty();
    void Write(const spdlog::memory_buf_t& bytes);

    const ScopedHandle file_;
    const std::string path_;  // for messages only
    const std::size_t max_size_;
    std::size_t current_size_ = 0;
};

// Opens the log file `name` in `folder` for the sink: the folder is reached from its trusted
// root by handles, the missing folders made on the way, and the file is made new, or emptied
// when a plain file with one link is already there. Throws spdlog::spdlog_ex, whose text
// begins "Failed opening file " and names what was found: a folder on the way that is a link
// or no folder, or at the file's name a link, a folder, a hard link or something else that is
// no plain file.
ScopedHandle OpenLogFile(const std::filesystem::path& folder, const std::wstring& name);
