#include "json_spirit/Value.h"

#include <limits>
#include <ostream>
#include <stdexcept>

#include "json_spirit/Error.h"
#include "json_spirit/Unicode.h"

namespace json_spirit
{
namespace
{

const char* typeName(Kind kind)
{
    switch (kind)
    {
    case Kind::null:
        return "null";
    case Kind::boolean:
        return "boolean";
    case Kind::integer:
        return "integer";
    case Kind::unsignedInteger:
        return "unsigned integer";
    case Kind::floatingPoint:
        return "floating point";
    case Kind::string:
        return "string";
    case Kind::array:
        return "array";
    case Kind::object:
        return "object";
    }
    return "unknown";
}

// The target names are the ones the run-time type information of the Windows build gives these types.
template <class Number> [[noreturn]] void throwOverflow(Number number, const char* targetName)
{
    throw std::overflow_error(std::to_string(number) + " cannot be converted to " + targetName);
}

} // namespace

std::ostream& operator<<(std::ostream& out, Kind kind)
{
    return out << typeName(kind);
}

Value::Value(const Object& members) : mData(members) {}
Value::Value(Object&& members) : mData(std::move(members)) {}
Value::Value(Array elements) : mData(std::move(elements)) {}
Value::Value(bool flag) : mData(flag) {}
Value::Value(double number) : mData(number) {}
Value::Value(std::string utf8) : mData(std::move(utf8)) {}
Value::Value(const char* utf8) : mData(std::string(utf8)) {}

Value& Value::operator=(const Value& other)
{
    if (this != &other)
        mData = Data(other.mData);
    return *this;
}

Value& Value::operator=(Value&& other) noexcept
{
    if (this != &other)
    {
        // Moving out first keeps a member of this value alive until it has been taken over.
        Data taken(std::move(other.mData));
        mData = std::move(taken);
    }
    return *this;
}

const Value& nullValue() noexcept
{
    static const Value null;
    return null;
}

void Value::requireKind(Kind expected) const
{
    if (kind() != expected)
        throw TypeError(expected, kind());
}

Value::operator bool() const noexcept
{
    switch (kind())
    {
    case Kind::null:
        return false;
    case Kind::boolean:
        return boolean();
    case Kind::integer:
        return integer() != 0;
    case Kind::unsignedInteger:
        return unsignedInteger() != 0;
    case Kind::floatingPoint:
        return !(floatingPoint() == 0.0);
    case Kind::string:
        return !rawString().empty();
    case Kind::array:
        return !std::get<Array>(mData).empty();
    case Kind::object:
        return !std::get<Object>(mData).empty();
    }
    return false;
}

const Value& Value::operator[](const std::string& key) const
{
    if (isNull())
        return nullValue();
    const Object& members = getObject();
    const auto found = members.find(key);
    return found == members.end() ? nullValue() : found->second;
}

const Value& Value::operator[](std::size_t index) const
{
    if (isNull())
        return nullValue();
    const Array& elements = getArray();
    return index < elements.size() ? elements[index] : nullValue();
}

const Object& Value::getObject() const
{
    requireKind(Kind::object);
    return std::get<Object>(mData);
}

const Array& Value::getArray() const
{
    requireKind(Kind::array);
    return std::get<Array>(mData);
}

std::string Value::getString() const
{
    requireKind(Kind::string);
    const std::string& payload = rawString();
    // Decoding every code point is the check; well-formed UTF-8 re-encodes to the same bytes.
    for (const char *next = payload.data(), *end = next + payload.size(); next != end;)
        unicode::decodeUtf8(next, end);
    return payload;
}

std::wstring Value::getWString() const
{
    requireKind(Kind::string);
    const std::string& payload = rawString();
    std::wstring result;
    result.reserve(payload.size());
    wchar_t units[2];
    for (const char *next = payload.data(), *end = next + payload.size(); next != end;)
        result.append(units, unicode::encodeUtf16(unicode::decodeUtf8(next, end), units));
    return result;
}

std::vector<std::wstring> Value::getWStringArray() const
{
    std::vector<std::wstring> result;
    if (isNull())
        return result;
    const Array& elements = getArray();
    result.reserve(elements.size());
    for (const Value& element : elements)
        result.push_back(element.getWString());
    return result;
}

std::uint32_t Value::getUInt() const
{
    constexpr auto max = std::numeric_limits<std::uint32_t>::max();
    switch (kind())
    {
    case Kind::unsignedInteger:
        if (unsignedInteger() > max)
            throwOverflow(unsignedInteger(), "unsigned int");
        return static_cast<std::uint32_t>(unsignedInteger());
    case Kind::integer:
        if (integer() < 0 || integer() > std::int64_t{max})
            throwOverflow(integer(), "unsigned int");
        return static_cast<std::uint32_t>(integer());
    default:
        throw TypeError(Kind::integer, kind());
    }
}

std::uint64_t Value::getUInt64() const
{
    switch (kind())
    {
    case Kind::unsignedInteger:
        return unsignedInteger();
    case Kind::integer:
        if (integer() < 0)
            throwOverflow(integer(), "unsigned __int64");
        return static_cast<std::uint64_t>(integer());
    default:
        throw TypeError(Kind::integer, kind());
    }
}

std::string Value::getStringOr(std::string fallback) const
{
    return isNull() ? fallback : getString();
}

std::wstring Value::getWStringOr(std::wstring fallback) const
{
    return isNull() ? fallback : getWString();
}

std::vector<std::wstring> Value::getWStringArrayOr(std::vector<std::wstring> fallback) const
{
    return isNull() ? fallback : getWStringArray();
}

std::uint64_t Value::getUIntOr(std::uint64_t fallback) const
{
    return isNull() ? fallback : getUInt();
}

std::uint64_t Value::getUInt64Or(std::uint64_t fallback) const
{
    return isNull() ? fallback : getUInt64();
}

bool Value::getBoolOr(bool fallback) const
{
    if (isNull())
        return fallback;
    requireKind(Kind::boolean);
    return boolean();
}

Array& Value::makeArray()
{
    return mData.emplace<Array>();
}

Object& Value::makeObject()
{
    return mData.emplace<Object>();
}

std::optional<std::vector<std::wstring>> getOptionalWStringArray(const Value& value)
{
    if (value.isNull())
        return std::nullopt;
    return value.getWStringArray();
}

} // namespace json_spirit
