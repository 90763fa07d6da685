#pragma once
// "%1%"-style message formatting over Boost.Format. Too few or too many arguments never throw;
// narrow texts and arguments are UTF-8 and are converted to UTF-16 first.

#include "compat/Types.h"
#include "qcl/String.h"

#include <boost/format.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
#include <type_traits>

namespace qcl
{
namespace details
{
// Every Boost.Format error but too-few-arguments and too-many-arguments.
constexpr unsigned char kFormatExceptions =
    boost::io::all_error_bits & ~(boost::io::too_few_args_bit | boost::io::too_many_args_bit);

// A handle argument: written as 8 upper-case hexadecimal digits with leading zeros, no prefix.
struct HandleText
{
    const void* handle;
};

inline std::wostream& operator<<(std::wostream& stream, const HandleText& value)
{
    const auto bits = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(value.handle));
    wchar_t text[9];
    for (int i = 7; i >= 0; --i)
        text[7 - i] = L"0123456789ABCDEF"[(bits >> (4 * i)) & 0xF];
    text[8] = 0;
    return stream << text;
}

// What each argument becomes before it is fed to the wide format object.
template <class T>
decltype(auto) adapt(const T& value)
{
    if constexpr (std::is_same_v<T, std::string>)
        return string::utf8ToUtf16(value);
    else if constexpr (std::is_same_v<std::decay_t<T>, const char*> || std::is_same_v<std::decay_t<T>, char*>)
        return string::toWString(value);
    else if constexpr (std::is_array_v<T> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>)
        return string::toWString(static_cast<const char*>(value));
    else if constexpr (std::is_pointer_v<T> && std::is_void_v<std::remove_pointer_t<T>>)
        return HandleText{value};
    else if constexpr (std::is_same_v<T, std::error_code>)
        return string::utf8ToUtf16(std::string(value.category().name())) + L":" + std::to_wstring(value.value());
    else
        return (const T&)value;
}
} // namespace details

inline boost::wformat makeFormat(const wchar_t* text)
{
    boost::wformat format(text);
    format.exceptions(details::kFormatExceptions);
    return format;
}

inline boost::wformat makeFormat(const std::wstring& text)
{
    boost::wformat format(text);
    format.exceptions(details::kFormatExceptions);
    return format;
}

inline boost::wformat makeFormat(string::basic_span<char> text)
{
    boost::wformat format(string::utf8ToUtf16(text));
    format.exceptions(details::kFormatExceptions);
    return format;
}

template <class... Args>
std::wstring format(boost::wformat object, const Args&... args)
{
    (void)std::initializer_list<int>{((void)(object % details::adapt(args)), 0)...};
    return object.str();
}

template <class... Args>
std::wstring format(const wchar_t* text, const Args&... args)
{
    return format(makeFormat(text), args...);
}

template <class... Args>
std::wstring format(const std::wstring& text, const Args&... args)
{
    return format(makeFormat(text), args...);
}

template <class... Args>
std::wstring format(const char* text, const Args&... args)
{
    return format(makeFormat(string::basic_span<char>(text, std::strlen(text))), args...);
}

// The narrow twin: a narrow format object and one argument, giving narrow text.
template <class Arg>
std::string format(boost::format object, const Arg& arg)
{
    object.exceptions(details::kFormatExceptions);
    object % arg;
    return object.str();
}
} // namespace qcl
