// cpr's small types of a request: the URL and the header table.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace cpr {

// Byte counts of a transfer in progress.
using cpr_pf_arg_t = std::int64_t;

// A piece of text with cpr's accessors; Url and Body derive from it.
template <typename T>
class StringHolder {
public:
    StringHolder() = default;
    explicit StringHolder(std::string str) : str_(std::move(str)) {}
    explicit StringHolder(std::string_view str) : str_(str) {}
    explicit StringHolder(const char* str) : str_(str) {}
    StringHolder(const char* str, std::size_t length) : str_(str, length) {}

    std::string& str() { return str_; }
    const std::string& str() const { return str_; }
    const char* c_str() const { return str_.c_str(); }
    const char* data() const { return str_.data(); }

protected:
    std::string str_;
};

class Url : public StringHolder<Url> {
public:
    Url() = default;
    Url(std::string url) : StringHolder<Url>(std::move(url)) {}
    Url(std::string_view url) : StringHolder<Url>(url) {}
    Url(const char* url) : StringHolder<Url>(url) {}
};

// Header names compare without regard to case, as HTTP does.
struct CaseInsensitiveCompare {
    bool operator()(const std::string& a, const std::string& b) const noexcept;
};

using Header = std::map<std::string, std::string, CaseInsensitiveCompare>;

}  // namespace cpr
