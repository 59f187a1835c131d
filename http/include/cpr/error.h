// Why a request failed below HTTP (no connection, TLS, proxy). A reply with any status is no
// error.
#pragma once

#include <cstdint>
#include <string>

namespace cpr {

enum class ErrorCode {
    OK = 0,
    CONNECTION_FAILURE,
    EMPTY_RESPONSE,
    HOST_RESOLUTION_FAILURE,
    INTERNAL_ERROR,
    INVALID_URL_FORMAT,
    NETWORK_RECEIVE_ERROR,
    NETWORK_SEND_FAILURE,
    OPERATION_TIMEDOUT,
    PROXY_RESOLUTION_FAILURE,
    REQUEST_CANCELLED,  // a callback ended the transfer
    SSL_CONNECT_ERROR,
    SSL_REMOTE_CERTIFICATE_ERROR,
    SSL_CACERT_ERROR,
    UNSUPPORTED_PROTOCOL,
    UNKNOWN_ERROR = 1000,
};

class Error {
public:
    Error() = default;
    // From libcurl's result code and its error text.
    Error(std::int32_t curl_code, std::string p_error_message);

    explicit operator bool() const { return code != ErrorCode::OK; }

    ErrorCode code = ErrorCode::OK;
    std::string message;
};

}  // namespace cpr
