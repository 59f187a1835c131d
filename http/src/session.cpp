#include <cpr/session.h>

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>

#include "http/src/curl_handle.h"

namespace cpr {
namespace {

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// A count other than the one given makes libcurl end the transfer with CURLE_WRITE_ERROR.
std::size_t CallWriteCallback(char* data, std::size_t size, std::size_t count, void* user) {
    const auto& write = *static_cast<const WriteCallback*>(user);
    return write(std::string_view(data, size * count)) ? size * count : 0;
}

int CallProgressCallback(void* user, curl_off_t download_total, curl_off_t download_now,
                         curl_off_t upload_total, curl_off_t upload_now) {
    const auto& progress = *static_cast<const ProgressCallback*>(user);
    return progress(download_total, download_now, upload_total, upload_now) ? 0 : 1;
}

// Linux grows a socket's send buffer up to 4 MiB, which takes a dump's whole report at once:
// libcurl then counts it sent while the peer has read little of it, and a slow but moving
// reader looks like a stall. Twice this (the kernel doubles it) still fills a link of a few
// MB/s at the round trips of the Internet.
constexpr int kSendBufferSize = 64 * 1024;

int KeepSendBufferSmall(void* /*user*/, curl_socket_t socket, curlsocktype purpose) {
    if (purpose == CURLSOCKTYPE_IPCXN) {
        // A socket that refuses keeps its own size; nothing else depends on it.
        ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kSendBufferSize, sizeof kSendBufferSize);
    }
    return CURL_SOCKOPT_OK;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Called once per header line; a status line starts the header table afresh, so only the
// final reply's headers stay (not those of a proxy's CONNECT or of "100 Continue").
std::size_t AppendHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& header = *static_cast<Header*>(user);
    const std::string_view line(data, size * count);
    if (line.substr(0, 5) == "HTTP/") {
        header.clear();
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
        header[std::string(Trim(line.substr(0, colon)))] =
            std::string(Trim(line.substr(colon + 1)));
    }
    return size * count;
}

bool SameName(const std::string& a, const std::string& b) {
    const CaseInsensitiveCompare less;
    return !less(a, b) && !less(b, a);
}

std::string SchemeOf(const std::string& url) {
    auto scheme = url.substr(0, url.find("://"));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

}  // namespace

class Session::Impl {
public:
    Impl() : handle_(detail::MakeCurlHandle()) {
        CURL* curl = handle_.get();
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        // "" offers every encoding this libcurl decodes (gzip, deflate, brotli, ...).
        curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        // Redirects followed as cpr does: at most 50, a POST sent on as a POST with its body
        // whatever the redirect's status.
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 50L);
        curl_easy_setopt(curl, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text_);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &AppendHeader);
        curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, &KeepSendBufferSmall);
    }

    void SetUrl(const Url& url) {
        url_ = url;
        curl_easy_setopt(handle_.get(), CURLOPT_URL, url_.c_str());
        // A request that starts encrypted is never redirected to plain HTTP: the report
        // carries the user's address and the crash dump.
        const bool encrypted = url_.str().rfind("https:", 0) == 0;
        curl_easy_setopt(handle_.get(), CURLOPT_REDIR_PROTOCOLS_STR,
                         encrypted ? "https" : "http,https");
    }

    void SetProxies(Proxies proxies) { proxies_ = std::move(proxies); }

    void SetBody(Body body) {
        // libcurl reads the body from our copy, so it is never duplicated.
        body_ = std::move(body);
        curl_easy_setopt(handle_.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(body_.str().size()));
        curl_easy_setopt(handle_.get(), CURLOPT_POSTFIELDS, body_.data());
    }

    void SetSslOptions(const SslOptions& options) {
        curl_easy_setopt(handle_.get(), CURLOPT_SSL_VERIFYPEER, options.verify_peer ? 1L : 0L);
        // The host name is checked whether or not the peer is verified.
        curl_easy_setopt(handle_.get(), CURLOPT_SSL_VERIFYHOST, 2L);
    }

    void SetHeader(const Header& header) {
        curl_slist* list = nullptr;
        bool has_expect = false;
        for (const auto& [name, value] : header) {
            // "Name;" is how libcurl sends a header whose value is empty.
            const auto line = value.empty() ? name + ";" : name + ": " + value;
            list = curl_slist_append(list, line.c_str());
            has_expect = has_expect || SameName(name, "Expect");
        }
        // No "Expect: 100-continue" round trip before a large body.
        if (!has_expect) {
            list = curl_slist_append(list, "Expect:");
        }
        headers_.reset(list);
        curl_easy_setopt(handle_.get(), CURLOPT_HTTPHEADER, headers_.get());
    }

    void SetConnectTimeout(const ConnectTimeout& timeout) {
        curl_easy_setopt(handle_.get(), CURLOPT_CONNECTTIMEOUT_MS, timeout.Milliseconds());
    }

    void SetLowSpeed(const LowSpeed& low_speed) {
        curl_easy_setopt(handle_.get(), CURLOPT_LOW_SPEED_LIMIT,
                         static_cast<long>(low_speed.limit));
        curl_easy_setopt(handle_.get(), CURLOPT_LOW_SPEED_TIME, static_cast<long>(low_speed.time));
    }

    void SetWriteCallback(const WriteCallback& write) { write_ = write; }

    void SetProgressCallback(const ProgressCallback& progress) {
        progress_ = progress;
        CURL* curl = handle_.get();
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CallProgressCallback);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &progress_);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, progress_.callback ? 0L : 1L);
    }

    Response Post() {
        CURL* curl = handle_.get();
        if (body_.str().empty()) {
            SetBody(Body{});
        }
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        if (headers_ == nullptr) {
            SetHeader(Header{});
        }
        const auto scheme = SchemeOf(url_.str());
        if (proxies_.has(scheme)) {
            // "" for the proxy is a direct connection, even where https_proxy or all_proxy is
            // set; "" for the bypass list keeps no_proxy from sending any host around it.
            curl_easy_setopt(curl, CURLOPT_PROXY, proxies_[scheme].c_str());
            curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
        }

        Response response;
        if (write_.callback) {
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CallWriteCallback);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &write_);
        } else {
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBody);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.text);
        }
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.header);
        error_text_[0] = '\0';
        const CURLcode result = curl_easy_perform(curl);

        char* effective_url = nullptr;
        curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective_url);
        response.url = Url(effective_url != nullptr ? effective_url : url_.str());
        if (result != CURLE_OK) {
            // A reply cut short or not decodable is no reply: status 0, whatever came first.
            const std::string text =
                error_text_[0] != '\0' ? error_text_ : curl_easy_strerror(result);
            response.error = Error(static_cast<std::int32_t>(result), text);
            response.status_code = 0;
            return response;
        }
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        response.status_code = status;
        return response;
    }

private:
    detail::CurlHandle handle_;
    detail::HeaderList headers_;
    Url url_;
    Body body_;
    Proxies proxies_;
    WriteCallback write_;
    ProgressCallback progress_;
    char error_text_[CURL_ERROR_SIZE] = {};
};

Session::Session() : impl_(std::make_unique<Impl>()) {}
Session::Session(Session&&) noexcept = default;
Session& Session::operator=(Session&&) noexcept = default;
Session::~Session() = default;

void Session::SetUrl(const Url& url) { impl_->SetUrl(url); }
void Session::SetProxies(const Proxies& proxies) { impl_->SetProxies(proxies); }
void Session::SetProxies(Proxies&& proxies) { impl_->SetProxies(std::move(proxies)); }
void Session::SetBody(const Body& body) { impl_->SetBody(body); }
void Session::SetBody(Body&& body) { impl_->SetBody(std::move(body)); }
void Session::SetSslOptions(const SslOptions& options) { impl_->SetSslOptions(options); }
void Session::SetHeader(const Header& header) { impl_->SetHeader(header); }
void Session::SetConnectTimeout(const ConnectTimeout& timeout) {
    impl_->SetConnectTimeout(timeout);
}
void Session::SetLowSpeed(const LowSpeed& low_speed) { impl_->SetLowSpeed(low_speed); }
void Session::SetWriteCallback(const WriteCallback& write) { impl_->SetWriteCallback(write); }
void Session::SetProgressCallback(const ProgressCallback& progress) {
    impl_->SetProgressCallback(progress);
}
Response Session::Post() { return impl_->Post(); }

}  // namespace cpr
