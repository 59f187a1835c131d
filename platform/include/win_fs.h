// Removal of files and folders with Windows' rules, for the program's clean-up: a file that is
// open anywhere without delete sharing (the running program's own log file, a file another
// process writes) cannot be deleted, nor can a file whose name is not UTF-8, which the wide
// calls cannot name (std::errc::illegal_byte_sequence). Otherwise like std::filesystem's
// functions of the same names; errors come as std::errc values.
#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace win_fs {

// True when the file, link or empty folder was removed; false with no error when there was
// nothing at the path.
bool remove(const std::filesystem::path& path, std::error_code& error) noexcept;

// Removes the entries of a folder one by one in listing order, a subfolder with its content
// when met, then the folder itself. Stops at the first entry it cannot delete: that entry, the
// entries not yet reached and the folder stay. Answers how many were removed, or
// static_cast<std::uintmax_t>(-1) with `error` set.
std::uintmax_t remove_all(const std::filesystem::path& path, std::error_code& error) noexcept;

}  // namespace win_fs
