// Whole files read into memory.
#pragma once

#include <filesystem>
#include <string>

// The file's bytes; the empty string when it cannot be read. The file is opened inside its
// folder without following a reparse point at either, so a link at the name (or a folder
// that is one) reads as no file. Never throws a std::exception.
std::string ReadFileBinary(const std::filesystem::path& file);
