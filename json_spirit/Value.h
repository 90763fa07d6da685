#pragma once

#include <concepts>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace json_spirit
{

// The tag values are stored and compared; keep their order.
enum class Kind : std::uint32_t
{
    null = 0,
    boolean = 1,
    integer = 2,
    unsignedInteger = 3,
    floatingPoint = 4,
    string = 5,
    array = 6,
    object = 7,
};

// Writes the kind's type name ("null", "unsigned integer", ...), the text the error messages use.
std::ostream& operator<<(std::ostream& out, Kind kind);

class Value;
using Array = std::vector<Value>;
using Object = std::unordered_map<std::string, Value>;

// One parsed JSON value: a tree of values that owns its payload alone. Lookups of absent members or elements
// give a shared null value, so looking up never creates anything.
class Value
{
public:
    Value() = default;
    explicit Value(const Object& members);
    explicit Value(Object&& members);
    explicit Value(Array elements);
    explicit Value(bool flag);
    template <std::integral Number>
    requires(!std::same_as<Number, bool>) explicit Value(Number number)
    {
        if constexpr (std::signed_integral<Number>)
            mData.emplace<std::int64_t>(number);
        else
            mData.emplace<std::uint64_t>(number);
    }
    explicit Value(double number);
    explicit Value(std::string utf8);
    explicit Value(const char* utf8);

    Value(const Value& other) = default;
    Value(Value&& other) noexcept = default;
    // Copies before it lets go of the old payload, so assigning a value one of its own members is safe.
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    ~Value() = default;

    Kind kind() const noexcept { return static_cast<Kind>(mData.index()); }
    bool isNull() const noexcept { return kind() == Kind::null; }

    // False for null, false, zero, 0.0, and the empty string, array and object.
    explicit operator bool() const noexcept;

    // Member lookup on an object (null when absent) or on null (null); other kinds throw TypeError.
    const Value& operator[](const std::string& key) const;
    // Element lookup on an array (null past the end) or on null (null); other kinds throw TypeError.
    const Value& operator[](std::size_t index) const;

    const Object& getObject() const;
    const Array& getArray() const;
    // The string payload, checked to be well-formed UTF-8; bad content throws
    // boost::locale::conv::conversion_error.
    std::string getString() const;
    std::wstring getWString() const;
    // Null gives an empty list; an array gives each element's getWString.
    std::vector<std::wstring> getWStringArray() const;
    // Either integer kind; a number out of range throws std::overflow_error.
    std::uint32_t getUInt() const;
    std::uint64_t getUInt64() const;

    // These give the default for null and the plain accessor's result for any other kind (so a wrong kind
    // throws).
    std::string getStringOr(std::string fallback) const;
    std::wstring getWStringOr(std::wstring fallback) const;
    std::vector<std::wstring> getWStringArrayOr(std::vector<std::wstring> fallback) const;
    std::uint64_t getUIntOr(std::uint64_t fallback) const;
    std::uint64_t getUInt64Or(std::uint64_t fallback) const;
    bool getBoolOr(bool fallback) const;

    // Raw payload access for the writer and for callers that switch on kind(); the kind must match.
    bool boolean() const { return std::get<bool>(mData); }
    std::int64_t integer() const { return std::get<std::int64_t>(mData); }
    std::uint64_t unsignedInteger() const { return std::get<std::uint64_t>(mData); }
    double floatingPoint() const { return std::get<double>(mData); }
    const std::string& rawString() const { return std::get<std::string>(mData); }

    // Building access for the reader: turns this value into an empty container of that kind and returns it.
    Array& makeArray();
    Object& makeObject();

    friend bool operator==(const Value& left, const Value& right) = default;

private:
    using Data =
        std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, Array, Object>;

    void requireKind(Kind expected) const;

    Data mData;
};

// The process-wide null value that lookups of absent entries return.
const Value& nullValue() noexcept;

// Empty for null (an absent list), otherwise the value's getWStringArray.
std::optional<std::vector<std::wstring>> getOptionalWStringArray(const Value& value);

} // namespace json_spirit
