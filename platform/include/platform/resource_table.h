// The interface between the layer and the resource tables that tools/resource_compiler
// generates from a resource list. A generated table registers itself while the executable's
// statics are initialised, before main runs; FindResourceW then searches every registered
// table of the executable's module in registration order. Not for the program's own code.
#pragma once

#include <cstddef>

namespace platform {

// A resource name or type: a text (compared without regard to case) or, when text is null,
// the integer id.
struct ResourceId {
    const wchar_t* text;
    unsigned short id;
};

struct ResourceRecord {
    ResourceId type;
    ResourceId name;
    const unsigned char* data;  // static storage of the generated table
    std::size_t size;
};

// Adds `count` records to the executable's resources. The records must outlive the process's
// use of them (the generated tables are static).
void RegisterResources(const ResourceRecord* records, std::size_t count);

}  // namespace platform
