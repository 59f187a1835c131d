#include "sciter/value.h"

#include <windows.h>

#include <cstring>
#include <string_view>

#include "sciter/aux.h"
#include "sciter/sapi.h"

namespace sciter {

namespace {

std::wstring StringText(const VALUE& v) {
    const char16_t* chars = nullptr;
    UINT length = 0;
    if (SAPI()->ValueStringData(&v, &chars, &length) != HV_OK) {
        return {};
    }
    return aux::utf16_to_wide(std::u16string_view(chars, length));
}

}  // namespace

value::value() : VALUE{} { SAPI()->ValueInit(this); }

value::value(const value& other) : value(static_cast<const VALUE&>(other)) {}

value::value(const VALUE& other) : VALUE{} {
    SAPI()->ValueInit(this);
    SAPI()->ValueCopy(this, &other);
}

void value::clear() { SAPI()->ValueClear(this); }

value& value::copy(const VALUE& other) {
    SAPI()->ValueCopy(this, &other);
    return *this;
}

std::wstring value::to_string() const {
    if (t == T_STRING) {
        return StringText(*this);
    }
    value text(*this);
    SAPI()->ValueToString(&text, CVT_SIMPLE);
    return StringText(text);
}

value value::make_error(const char* message) {
    value result;
    if (message == nullptr) {
        return result;
    }
    const int bytes = static_cast<int>(std::strlen(message));
    const int length = MultiByteToWideChar(CP_THREAD_ACP, 0, message, bytes, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, message, bytes, wide.data(), length);
    const std::u16string units = aux::wide_to_utf16(wide);
    SAPI()->ValueStringDataSet(&result, units.c_str(), static_cast<UINT>(units.size()),
                               UT_STRING_ERROR);
    return result;
}

value value::make_string(const std::string& utf8) {
    const std::string_view text(utf8.c_str());  // up to the first NUL
    aux::utf16_buffer buffer;
    aux::utf8_to_wchars(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), buffer);
    value result;
    buffer.terminate();
    SAPI()->ValueStringDataSet(&result, buffer.data(), static_cast<UINT>(buffer.length()),
                               UT_STRING_FROM_UTF8);
    return result;
}

}  // namespace sciter
