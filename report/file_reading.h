// Whole files read into memory.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

// The file's bytes; the empty string when it cannot be read. The file is opened inside its
// folder, reached by handles from its trusted root without following a reparse point, and
// only a plain file with one link is read: a link at the name, a hard link, or a folder on the
// way that is a link reads as no file. Never throws a std::exception.
std::string ReadFileBinary(const std::filesystem::path& file);

// The same from a file the caller opened for reading and keeps, read from its start.
bool ReadHandleBlocks(HANDLE file, std::size_t block_size,
                      const std::function<void(std::uint64_t size)>& start,
                      const std::function<void(const char* data, std::size_t length)>& take);

// Reads the file as ReadFileBinary does, but hands its bytes over a block at a time instead of
// holding them whole: `start` gets the size the file had when opened, then `take` each block,
// of `block_size` bytes but the last. False when the file cannot be opened or a read fails;
// what was handed over until then is not the file's bytes. Throws only what the two throw.
bool ReadFileBlocks(const std::filesystem::path& file, std::size_t block_size,
                    const std::function<void(std::uint64_t size)>& start,
                    const std::function<void(const char* data, std::size_t length)>& take);
