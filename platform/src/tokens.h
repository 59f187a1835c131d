// Access tokens as kernel objects, and whom each thread acts as.
#pragma once

#include <platform/testing.h>

#include <string>

#include "platform/src/handle_table.h"

namespace platform::detail {

class TokenObject : public KernelObject {
public:
    explicit TokenObject(testing::TokenSpec spec) : spec_(std::move(spec)) {}
    const testing::TokenSpec& spec() const { return spec_; }

private:
    testing::TokenSpec spec_;
};

// The process's account by default: the login name of this process, elevation type default.
testing::TokenSpec DefaultAccountToken();

// The user of the thread's impersonated token, or the process's account.
std::wstring ActingUserName();

}  // namespace platform::detail
