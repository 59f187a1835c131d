// Sets (or unsets) an environment variable for the life of the object.
#pragma once

#include <optional>
#include <string>

namespace test_support {

class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv();

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace test_support
