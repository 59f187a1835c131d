// The interface archive (the files of resources/ui), packed at build time and linked into the
// program as read-only data. The program hands it whole to the engine.
#pragma once

#include <cstddef>

extern const unsigned char kInterfaceArchive[];
extern const std::size_t kInterfaceArchiveSize;
