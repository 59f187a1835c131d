// The outcome of one request.
#pragma once

#include <string>

#include "cpr/cprtypes.h"
#include "cpr/error.h"

namespace cpr {

struct Response {
    // The reply's HTTP status; 0 when the exchange failed (see error).
    long status_code = 0;
    // The reply's body, decoded when it came compressed.
    std::string text;
    Header header;
    Url url;
    Error error;
};

}  // namespace cpr
