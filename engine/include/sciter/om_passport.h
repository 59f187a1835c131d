// Passports and the thunks through which the engine calls a script object's native methods.
//
// A class builds its tables once, as a function-local static of its asset_get_passport (so
// under the language's one-time initialisation), and writes its class name into the same
// static passport on every request.
//
// Every thunk reports success to the engine. A std::runtime_error escaping the argument
// conversion, the call or the result becomes the call's result as an error value carrying the
// message; any other exception passes through.
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "sciter/api.h"
#include "sciter/aux.h"
#include "sciter/om.h"
#include "sciter/sapi.h"
#include "sciter/value.h"

namespace sciter::om {

struct method_entry {
    const char* name;
    std::size_t params;
    som_method_t thunk;
};

struct property_entry {
    const char* name;
    som_prop_getter_t getter;
    som_prop_setter_t setter;  // null: read-only
};

template <std::size_t M, std::size_t P>
class passport_tables {
public:
    passport_tables(const std::array<method_entry, M>& methods,
                    const std::array<property_entry, P>& properties) {
        for (std::size_t i = 0; i < M; ++i) {
            methods_[i] = {nullptr, SAPI()->SciterAtomValue(methods[i].name), methods[i].params,
                           methods[i].thunk};
        }
        for (std::size_t i = 0; i < P; ++i) {
            properties_[i] = {nullptr, SAPI()->SciterAtomValue(properties[i].name),
                              properties[i].getter, properties[i].setter};
        }
    }

    // Writes the class name and the tables into `passport` and returns it.
    som_passport_t* fill(som_passport_t& passport, const char* class_name) const {
        passport.flags = 0;
        passport.name = SAPI()->SciterAtomValue(class_name);
        passport.properties = P == 0 ? nullptr : properties_.data();
        passport.n_properties = P;
        passport.methods = M == 0 ? nullptr : methods_.data();
        passport.n_methods = M;
        return &passport;
    }

private:
    std::array<som_method_def_t, M> methods_{};
    std::array<som_property_def_t, P> properties_{};
};

namespace detail {

template <class>
struct member_traits;
template <class C, class R, class... A>
struct member_traits<R (C::*)(A...)> {
    using result = R;
    using arguments = std::tuple<std::decay_t<A>...>;
};
template <class C, class R, class... A>
struct member_traits<R (C::*)(A...) const> : member_traits<R (C::*)(A...)> {};

// Argument i of the script call, read by position. An argument the engine did not pass reads
// as undefined instead of past the end of its array.
template <class A>
A read_argument(UINT argc, const VALUE* argv, std::size_t i) {
    const value argument = i < argc ? value(argv[i]) : value();
    if constexpr (std::is_same_v<A, std::wstring>) {
        return argument.to_string();
    } else {
        static_assert(std::is_same_v<A, value>, "script methods take text or script values");
        return argument;
    }
}

inline value make_result(const std::wstring& text) {
    value result;
    const std::u16string units = aux::wide_to_utf16(text);
    SAPI()->ValueStringDataSet(&result, units.c_str(), static_cast<UINT>(units.size()),
                               UT_STRING_PLAIN);
    return result;
}
inline value make_result(bool flag) {
    value result;
    SAPI()->ValueIntDataSet(&result, flag ? 1 : 0, T_BOOL, 0);
    return result;
}
inline value make_result(value result) { return result; }

inline void store(VALUE* slot, const value& result) { SAPI()->ValueCopy(slot, &result); }

template <class T, auto Method, std::size_t... I>
value invoke(T* self, UINT argc, const VALUE* argv, std::index_sequence<I...>) {
    using traits = member_traits<decltype(Method)>;
    if constexpr (std::is_void_v<typename traits::result>) {
        (self->*Method)(
            read_argument<std::tuple_element_t<I, typename traits::arguments>>(argc, argv, I)...);
        return value();
    } else {
        return make_result((self->*Method)(
            read_argument<std::tuple_element_t<I, typename traits::arguments>>(argc, argv, I)...));
    }
}

}  // namespace detail

// The thunk of a script method of class T (virtual methods are called as such).
template <class T, auto Method>
bool SCAPI method_thunk(som_asset_t* thing, UINT argc, const VALUE* argv, VALUE* result) {
    T* const self = asset<T>::object_of(thing);
    constexpr auto arity =
        std::tuple_size_v<typename detail::member_traits<decltype(Method)>::arguments>;
    try {
        detail::store(
            result, detail::invoke<T, Method>(self, argc, argv, std::make_index_sequence<arity>{}));
    } catch (const std::runtime_error& error) {
        detail::store(result, value::make_error(error.what()));
    }
    return true;
}

// The getter thunk of a read-only property of class T.
template <class T, auto Getter>
bool SCAPI property_thunk(som_asset_t* thing, VALUE* result) {
    return method_thunk<T, Getter>(thing, 0, nullptr, result);
}

}  // namespace sciter::om
