#include "http/src/curl_handle.h"

#include <stdexcept>

namespace cpr::detail {
namespace {

// libcurl's global state lives from the first session to the end of the process.
class CurlGlobal {
public:
    CurlGlobal() {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("failed to initialise libcurl");
        }
    }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
    ~CurlGlobal() { curl_global_cleanup(); }
};

}  // namespace

CurlHandle MakeCurlHandle() {
    static const CurlGlobal global;
    CurlHandle handle(curl_easy_init());
    if (!handle) {
        throw std::runtime_error("failed to create a curl handle");
    }
    return handle;
}

}  // namespace cpr::detail
