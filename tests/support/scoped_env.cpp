#include "tests/support/scoped_env.h"

#include <stdlib.h>

namespace test_support {

namespace {
void Apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}
}  // namespace

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* previous = ::getenv(name_.c_str())) {
        previous_ = previous;
    }
    Apply(name_, value);
}

ScopedEnv::~ScopedEnv() { Apply(name_, previous_); }

}  // namespace test_support
