// The proxies of one request: URL scheme ("http", "https") to proxy ("host:port"), as cpr
// offers them.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <utility>

namespace cpr {

class Proxies {
public:
    Proxies() = default;
    Proxies(const std::initializer_list<std::pair<const std::string, std::string>>& hosts)
        : hosts_(hosts) {}
    explicit Proxies(const std::map<std::string, std::string>& hosts) : hosts_(hosts) {}

    bool has(const std::string& protocol) const { return hosts_.count(protocol) > 0; }
    const std::string& operator[](const std::string& protocol) { return hosts_[protocol]; }

private:
    std::map<std::string, std::string> hosts_;
};

}  // namespace cpr
