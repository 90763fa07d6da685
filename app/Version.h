#pragma once
// A program version: major, minor and patch, compared in that order; written as "1.13.0".

#include <compare>
#include <cstdint>
#include <string>

namespace json_spirit
{
class Value;
}

namespace dwl
{
struct Version
{
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;

    bool isZero() const { return major == 0 && minor == 0 && patch == 0; }
    friend auto operator<=>(const Version&, const Version&) = default;

    // The three numbers in decimal joined by ".".
    std::string toString() const;
    std::wstring toWString() const;

    // From a JSON array: elements 0 to 2 must be integers that fit 32 unsigned bits; further elements are
    // ignored. Anything else throws the JSON library's errors.
    static Version fromJson(const json_spirit::Value& value);
};
} // namespace dwl
