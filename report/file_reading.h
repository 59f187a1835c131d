// Whole files read into memory.
#pragma once

#include <filesystem>
#include <string>

// The file's bytes; the empty string when it cannot be read. Never throws a std::exception.
std::string ReadFileBinary(const std::filesystem::path& file);
