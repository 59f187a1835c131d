// The source text of log records: a component's tag, ":" and the file name of a source path.
#pragma once

#include <string>

// Built once per source path and cached for the life of the process; the returned reference
// stays valid. A second tag offered for a cached path is ignored. Any thread may call it.
const std::string& GetSourceTag(const std::string& tag, const std::string& path);
