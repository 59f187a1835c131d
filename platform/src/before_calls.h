// Callbacks that tests run just before a named file call acts on a named path
// (platform::testing::BeforeCall, or the PLATFORM_BEFORE_CALL file of a real run).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform::detail {

// Runs what is registered for `function` on the path that `path` gives; the path is made only
// when something is registered for `function`. Calls that a callback makes run nothing.
void RunBeforeCall(std::string_view function, const std::function<std::string()>& path);

}  // namespace platform::detail
