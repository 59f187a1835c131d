#include "win_error.h"

#include <windows.h>

#include <array>
#include <string_view>

#include "platform/src/utf.h"

namespace win_error {
namespace {

class SystemCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "system"; }

    std::string message(int condition) const override {
        std::array<wchar_t, 512> buffer{};
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(condition), 0, buffer.data(),
                           static_cast<DWORD>(buffer.size()), nullptr);
        std::wstring_view text(buffer.data(), length);
        const auto end = text.find_last_not_of(L" \t\r\n");
        text = text.substr(0, end == std::wstring_view::npos ? 0 : end + 1);
        if (text.empty()) {
            return "unknown error";
        }
        return platform::detail::WideToUtf8(text);
    }
};

}  // namespace

const std::error_category& system_category() noexcept {
    static const SystemCategory category;
    return category;
}

}  // namespace win_error
