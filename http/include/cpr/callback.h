// Callbacks of a request, as cpr offers them.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "cpr/cprtypes.h"

namespace cpr {

// Receives the reply's body piece by piece, decoded, in place of Response::text (which then
// stays empty). Returning false ends the transfer: the exchange fails with REQUEST_CANCELLED.
class WriteCallback {
public:
    using Function = std::function<bool(const std::string_view& data, std::intptr_t userdata)>;

    WriteCallback() = default;
    WriteCallback(Function p_callback, std::intptr_t p_userdata = 0)
        : userdata(p_userdata), callback(std::move(p_callback)) {}

    bool operator()(const std::string_view& data) const { return callback(data, userdata); }

    std::intptr_t userdata = 0;
    Function callback;
};

// Called as the transfer goes, and about once a second while nothing moves: the body's size and
// what of it the peer has taken, and the reply's size (0 while unknown) and what has arrived.
// Returning false ends the transfer: the exchange fails with REQUEST_CANCELLED.
class ProgressCallback {
public:
    using Function = std::function<bool(cpr_pf_arg_t downloadTotal, cpr_pf_arg_t downloadNow,
                                        cpr_pf_arg_t uploadTotal, cpr_pf_arg_t uploadNow,
                                        std::intptr_t userdata)>;

    ProgressCallback() = default;
    ProgressCallback(Function p_callback, std::intptr_t p_userdata = 0)
        : userdata(p_userdata), callback(std::move(p_callback)) {}

    bool operator()(cpr_pf_arg_t downloadTotal, cpr_pf_arg_t downloadNow, cpr_pf_arg_t uploadTotal,
                    cpr_pf_arg_t uploadNow) const {
        return callback(downloadTotal, downloadNow, uploadTotal, uploadNow, userdata);
    }

    std::intptr_t userdata = 0;
    Function callback;
};

}  // namespace cpr
