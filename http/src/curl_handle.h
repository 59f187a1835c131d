// Owners of libcurl's handles.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace cpr::detail {

struct EasyCleanup {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

using CurlHandle = std::unique_ptr<CURL, EasyCleanup>;
using HeaderList = std::unique_ptr<curl_slist, SlistCleanup>;

// A new easy handle, libcurl's process-wide set-up done once before the first. Throws
// std::runtime_error when libcurl cannot make one.
CurlHandle MakeCurlHandle();

}  // namespace cpr::detail
