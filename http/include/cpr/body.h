// The body of a request, sent as it is.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "cpr/cprtypes.h"

namespace cpr {

class Body : public StringHolder<Body> {
public:
    Body() = default;
    Body(std::string body) : StringHolder<Body>(std::move(body)) {}
    Body(std::string_view body) : StringHolder<Body>(body) {}
    Body(const char* body) : StringHolder<Body>(body) {}
    Body(const char* body, std::size_t length) : StringHolder<Body>(body, length) {}
};

}  // namespace cpr
