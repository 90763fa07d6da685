#pragma once
// The 128-bit identifier of Shares, assets, users and Devices.
// Text form: 32 lower-case hexadecimal digits, high half first, in 8 groups of 4 joined by "-".

#include "qcl/Error.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>

namespace qcl
{
class uint128
{
public:
    class ParseError : public basic_runtime_error<wchar_t>
    {
    public:
        ParseError() : basic_runtime_error(L"Cannot parse uint128") {}
    };

    constexpr uint128() = default;
    static constexpr uint128 fromHalves(std::uint64_t high, std::uint64_t low)
    {
        uint128 value;
        value.mLow = low;
        value.mHigh = high;
        return value;
    }

    constexpr std::uint64_t low() const { return mLow; }
    constexpr std::uint64_t high() const { return mHigh; }
    constexpr bool isNil() const { return mLow == 0 && mHigh == 0; }

    // Accepts upper- and lower-case digits and "-" anywhere before the last digit; exactly 32 digits.
    static uint128 parse(const std::string& text);
    static uint128 parse(const std::wstring& text);

    std::string str() const;
    std::wstring wstr() const;

    friend constexpr bool operator==(const uint128& a, const uint128& b)
    {
        return a.mLow == b.mLow && a.mHigh == b.mHigh;
    }
    friend constexpr bool operator!=(const uint128& a, const uint128& b) { return !(a == b); }
    friend constexpr bool operator<(const uint128& a, const uint128& b)
    {
        return a.mHigh != b.mHigh ? a.mHigh < b.mHigh : a.mLow < b.mLow;
    }

private:
    std::uint64_t mLow = 0; // low half first, as stored
    std::uint64_t mHigh = 0;
};

std::ostream& operator<<(std::ostream& stream, const uint128& value);
std::wostream& operator<<(std::wostream& stream, const uint128& value);
// "(first/second)": a (Share, asset) pair in log lines.
std::wostream& operator<<(std::wostream& stream, const std::pair<uint128, uint128>& pair);
} // namespace qcl

template <>
struct std::hash<qcl::uint128>
{
    std::size_t operator()(const qcl::uint128& value) const noexcept
    {
        return std::hash<std::uint64_t>()(value.low() ^ (value.high() * 0x9E3779B97F4A7C15ull));
    }
};
