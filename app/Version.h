#pragma once
// A program version: major, minor and patch, compared in that order.

#include <compare>
#include <cstdint>

namespace dwl
{
struct Version
{
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;

    bool isZero() const { return major == 0 && minor == 0 && patch == 0; }
    friend auto operator<=>(const Version&, const Version&) = default;
};
} // namespace dwl
