#include "qcl/Uint128.h"

#include <array>

namespace qcl
{
namespace
{
constexpr std::size_t kTextLength = 39;

template <class Char>
std::array<Char, kTextLength> textForm(const uint128& value)
{
    static const char digits[] = "0123456789abcdef";
    std::array<Char, kTextLength> text{};
    std::size_t at = 0;
    for (int half = 0; half < 2; ++half)
    {
        const std::uint64_t bits = half == 0 ? value.high() : value.low();
        for (int i = 15; i >= 0; --i)
        {
            if (at % 5 == 4)
                text[at++] = Char('-');
            text[at++] = Char(digits[(bits >> (4 * i)) & 0xF]);
        }
    }
    return text;
}

int digitValue(std::uint32_t c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

template <class Char>
uint128 parseText(const std::basic_string<Char>& text)
{
    std::uint64_t halves[2] = {0, 0};
    std::size_t at = 0;
    for (int half = 0; half < 2; ++half)
    {
        for (int digit = 0; digit < 16; ++digit)
        {
            while (at < text.size() && text[at] == Char('-'))
                ++at;
            if (at == text.size())
                throw uint128::ParseError();
            const int value = digitValue(static_cast<std::uint32_t>(text[at++]));
            if (value < 0)
                throw uint128::ParseError();
            halves[half] = (halves[half] << 4) | static_cast<std::uint64_t>(value);
        }
    }
    if (at != text.size())
        throw uint128::ParseError();
    return uint128::fromHalves(halves[0], halves[1]);
}
} // namespace

uint128 uint128::parse(const std::string& text)
{
    return parseText(text);
}

uint128 uint128::parse(const std::wstring& text)
{
    return parseText(text);
}

std::string uint128::str() const
{
    const auto text = textForm<char>(*this);
    return std::string(text.data(), text.size());
}

std::wstring uint128::wstr() const
{
    const auto text = textForm<wchar_t>(*this);
    return std::wstring(text.data(), text.size());
}

std::ostream& operator<<(std::ostream& stream, const uint128& value)
{
    const auto text = textForm<char>(value);
    return stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::wostream& operator<<(std::wostream& stream, const uint128& value)
{
    const auto text = textForm<wchar_t>(value);
    return stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::wostream& operator<<(std::wostream& stream, const std::pair<uint128, uint128>& pair)
{
    return stream << L'(' << pair.first << L'/' << pair.second << L')';
}
} // namespace qcl
