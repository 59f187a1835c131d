#include <cpr/error.h>

#include <curl/curl.h>

#include <utility>

namespace cpr {
namespace {

ErrorCode FromCurlCode(std::int32_t curl_code) {
    switch (static_cast<CURLcode>(curl_code)) {
        case CURLE_OK:
            return ErrorCode::OK;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return ErrorCode::UNSUPPORTED_PROTOCOL;
        case CURLE_URL_MALFORMAT:
            return ErrorCode::INVALID_URL_FORMAT;
        case CURLE_COULDNT_RESOLVE_PROXY:
            return ErrorCode::PROXY_RESOLUTION_FAILURE;
        case CURLE_COULDNT_RESOLVE_HOST:
            return ErrorCode::HOST_RESOLUTION_FAILURE;
        case CURLE_COULDNT_CONNECT:
            return ErrorCode::CONNECTION_FAILURE;
        case CURLE_OPERATION_TIMEDOUT:
            return ErrorCode::OPERATION_TIMEDOUT;
        case CURLE_SSL_CONNECT_ERROR:
            return ErrorCode::SSL_CONNECT_ERROR;
        case CURLE_PEER_FAILED_VERIFICATION:
            return ErrorCode::SSL_REMOTE_CERTIFICATE_ERROR;
        case CURLE_SSL_CACERT_BADFILE:
            return ErrorCode::SSL_CACERT_ERROR;
        case CURLE_GOT_NOTHING:
            return ErrorCode::EMPTY_RESPONSE;
        case CURLE_SEND_ERROR:
            return ErrorCode::NETWORK_SEND_FAILURE;
        case CURLE_RECV_ERROR:
            return ErrorCode::NETWORK_RECEIVE_ERROR;
        case CURLE_WRITE_ERROR:
        case CURLE_ABORTED_BY_CALLBACK:
            return ErrorCode::REQUEST_CANCELLED;
        case CURLE_OUT_OF_MEMORY:
            return ErrorCode::INTERNAL_ERROR;
        default:
            return ErrorCode::UNKNOWN_ERROR;
    }
}

}  // namespace

Error::Error(std::int32_t curl_code, std::string p_error_message)
    : code(FromCurlCode(curl_code)), message(std::move(p_error_message)) {}

}  // namespace cpr
