#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "json_spirit/Value.h"

namespace json_spirit
{

// Writes a whole value as compact JSON text in UTF-16. Object members come in the map's order.
void write(std::wostream& out, const Value& value);

// Writes one JSON string: quotes, the escapes \b \t \n \f \r \" \\ and \u00xx for the other control
// characters, everything else as it is. Malformed input (bad UTF-8, a lone surrogate) throws
// boost::locale::conv::conversion_error; what was written before the fault stays in the stream.
void writeString(std::ostream& out, const char* begin, const char* end);
void writeString(std::ostream& out, std::string_view utf8);
void writeString(std::ostream& out, const wchar_t* begin, const wchar_t* end);

// Layout bit of the streaming writers. Without it the text is compact: no blank and no line break anywhere.
inline constexpr std::int32_t prettyLayout = 1;

class ArrayWriter;

// Streams one JSON object piece by piece: "{" at construction, then writeKey followed by the member's value
// (writeString, a nested writer, or raw text on stream()), and "}" at close() or destruction.
class ObjectWriter
{
public:
    explicit ObjectWriter(std::ostream& out, std::uint32_t depth = 0, std::int32_t flags = 0);
    ~ObjectWriter();
    ObjectWriter(const ObjectWriter&) = delete;
    ObjectWriter& operator=(const ObjectWriter&) = delete;

    // Starts a member: the separator, the key as a JSON string and ":".
    void writeKey(const char* key, std::size_t length);
    void writeKey(std::string_view key) { writeKey(key.data(), key.size()); }

    // Writers for a member value that is an object or an array, one level deeper, with this writer's layout.
    ObjectWriter openObject();
    ArrayWriter openArray();

    std::ostream& stream() const { return *mStream; }
    std::uint32_t depth() const { return mDepth; }

    // Writes "}" once; later calls write nothing.
    void close();

private:
    std::ostream* mStream;
    std::uint32_t mDepth;
    std::int32_t mFlags;
    bool mFirst = true;
};

// Streams one JSON array: "[" at construction, items, and "]" at close() or destruction.
class ArrayWriter
{
public:
    explicit ArrayWriter(std::ostream& out, std::uint32_t depth = 0, std::int32_t flags = 0);
    ~ArrayWriter();
    ArrayWriter(const ArrayWriter&) = delete;
    ArrayWriter& operator=(const ArrayWriter&) = delete;

    // Each string as an item, in order.
    void writeStrings(const std::vector<std::wstring>& items);

    std::ostream& stream() const { return *mStream; }
    std::uint32_t depth() const { return mDepth; }

    // Writes "]" once; later calls write nothing.
    void close();

private:
    void startItem();

    std::ostream* mStream;
    std::uint32_t mDepth;
    std::int32_t mFlags;
    bool mFirst = true;
};

} // namespace json_spirit
