#include "json_spirit/Writer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ostream>
#include <type_traits>

#include "json_spirit/Unicode.h"

namespace json_spirit
{
namespace
{

// Collects output characters and hands them to the stream in blocks. What is not flushed when an exception
// leaves is dropped.
template <class Char> class BlockBuffer
{
public:
    explicit BlockBuffer(std::basic_ostream<Char>& out) : mOut(out) {}
    BlockBuffer(const BlockBuffer&) = delete;
    BlockBuffer& operator=(const BlockBuffer&) = delete;

    // Room for `count` more characters; `count` is at most the capacity.
    Char* reserve(std::size_t count)
    {
        if (mUsed + count > capacity)
            flush();
        return mBuffer + mUsed;
    }
    void commit(std::size_t count) { mUsed += count; }
    std::size_t room() const { return capacity - mUsed; }
    void put(Char c) { *reserve(1) = c, ++mUsed; }

    void flush()
    {
        mOut.write(mBuffer, static_cast<std::streamsize>(mUsed));
        mUsed = 0;
    }

private:
    static constexpr std::size_t capacity = 128;
    std::basic_ostream<Char>& mOut;
    Char mBuffer[capacity];
    std::size_t mUsed = 0;
};

void encode(char32_t codePoint, BlockBuffer<char>& buffer)
{
    buffer.commit(static_cast<std::size_t>(unicode::encodeUtf8(codePoint, buffer.reserve(4))));
}

void encode(char32_t codePoint, BlockBuffer<wchar_t>& buffer)
{
    buffer.commit(static_cast<std::size_t>(unicode::encodeUtf16(codePoint, buffer.reserve(2))));
}

char32_t decode(const char*& next, const char* end)
{
    return unicode::decodeUtf8(next, end);
}

char32_t decode(const wchar_t*& next, const wchar_t* end)
{
    return unicode::decodeUtf16(next, end);
}

template <class Char> void putEscape(char32_t codePoint, BlockBuffer<Char>& buffer)
{
    char escape;
    switch (codePoint)
    {
    case '\b':
        escape = 'b';
        break;
    case '\t':
        escape = 't';
        break;
    case '\n':
        escape = 'n';
        break;
    case '\f':
        escape = 'f';
        break;
    case '\r':
        escape = 'r';
        break;
    case '"':
        escape = '"';
        break;
    case '\\':
        escape = '\\';
        break;
    default:
    {
        constexpr char digits[] = "0123456789abcdef";
        Char* out = buffer.reserve(6);
        const Char sequence[] = {'\\',
                                 'u',
                                 '0',
                                 '0',
                                 static_cast<Char>(digits[codePoint >> 4]),
                                 static_cast<Char>(digits[codePoint & 0xF])};
        std::copy(std::begin(sequence), std::end(sequence), out);
        buffer.commit(6);
        return;
    }
    }
    Char* out = buffer.reserve(2);
    out[0] = '\\';
    out[1] = static_cast<Char>(escape);
    buffer.commit(2);
}

bool needsEscape(char32_t codePoint)
{
    return codePoint < 0x20 || codePoint == '"' || codePoint == '\\';
}

// Printable ASCII other than the quote and the backslash: copied as it is.
template <class InChar> bool isPlainAscii(InChar c)
{
    const auto unit = static_cast<std::make_unsigned_t<InChar>>(c);
    return unit >= 0x20 && unit < 0x80 && unit != '"' && unit != '\\';
}

// One pass over the input: runs of plain ASCII are copied into the output buffer, every other code point is
// decoded, then escaped or re-encoded.
template <class OutChar, class InChar>
void putQuoted(const InChar* next, const InChar* end, BlockBuffer<OutChar>& buffer)
{
    buffer.put('"');
    while (next != end)
    {
        OutChar* out = buffer.reserve(1);
        const std::size_t room = buffer.room();
        std::size_t copied = 0;
        while (copied < room && next != end && isPlainAscii(*next))
            out[copied++] = static_cast<OutChar>(*next++);
        buffer.commit(copied);
        if (next == end || copied == room)
            continue;
        const char32_t codePoint = decode(next, end);
        if (needsEscape(codePoint))
            putEscape(codePoint, buffer);
        else
            encode(codePoint, buffer);
    }
    buffer.put('"');
}

template <class OutChar, class InChar>
void writeQuoted(std::basic_ostream<OutChar>& out, const InChar* begin, const InChar* end)
{
    BlockBuffer<OutChar> buffer(out);
    putQuoted(begin, end, buffer);
    buffer.flush();
}

// A short piece of ASCII text (a number or a keyword).
void putAscii(std::string_view text, BlockBuffer<wchar_t>& buffer)
{
    std::copy(text.begin(), text.end(), buffer.reserve(text.size()));
    buffer.commit(text.size());
}

// 17 significant digits with the decimal point always shown, as a stream in general notation writes it.
void putFloatingPoint(double number, BlockBuffer<wchar_t>& buffer)
{
    char digits[40];
    const int length = std::snprintf(digits, sizeof digits, "%#.17g", number);
    putAscii(
        std::string_view(digits, static_cast<std::size_t>(std::clamp(length, 0, int{sizeof digits} - 1))),
        buffer);
}

template <class Number> void putInteger(Number number, BlockBuffer<wchar_t>& buffer)
{
    char digits[24];
    const char* end = std::to_chars(std::begin(digits), std::end(digits), number).ptr;
    putAscii(std::string_view(digits, static_cast<std::size_t>(end - digits)), buffer);
}

void putValue(const Value& value, BlockBuffer<wchar_t>& buffer)
{
    switch (value.kind())
    {
    case Kind::null:
        putAscii("null", buffer);
        break;
    case Kind::boolean:
        putAscii(value.boolean() ? "true" : "false", buffer);
        break;
    case Kind::integer:
        putInteger(value.integer(), buffer);
        break;
    case Kind::unsignedInteger:
        putInteger(value.unsignedInteger(), buffer);
        break;
    case Kind::floatingPoint:
        putFloatingPoint(value.floatingPoint(), buffer);
        break;
    case Kind::string:
    {
        const std::string& utf8 = value.rawString();
        putQuoted(utf8.data(), utf8.data() + utf8.size(), buffer);
        break;
    }
    case Kind::array:
    {
        buffer.put(L'[');
        bool first = true;
        for (const Value& element : value.getArray())
        {
            if (!first)
                buffer.put(L',');
            first = false;
            putValue(element, buffer);
        }
        buffer.put(L']');
        break;
    }
    case Kind::object:
    {
        buffer.put(L'{');
        bool first = true;
        for (const auto& [key, member] : value.getObject())
        {
            if (!first)
                buffer.put(L',');
            first = false;
            putQuoted(key.data(), key.data() + key.size(), buffer);
            buffer.put(L':');
            putValue(member, buffer);
        }
        buffer.put(L'}');
        break;
    }
    }
}

} // namespace

void write(std::wostream& out, const Value& value)
{
    BlockBuffer<wchar_t> buffer(out);
    putValue(value, buffer);
    buffer.flush();
}

void writeString(std::ostream& out, const char* begin, const char* end)
{
    writeQuoted(out, begin, end);
}

void writeString(std::ostream& out, std::string_view utf8)
{
    writeQuoted(out, utf8.data(), utf8.data() + utf8.size());
}

void writeString(std::ostream& out, const wchar_t* begin, const wchar_t* end)
{
    writeQuoted(out, begin, end);
}

ObjectWriter::ObjectWriter(std::ostream& out, std::uint32_t depth, std::int32_t flags)
    : mStream(&out), mDepth(depth), mFlags(flags)
{
    out.put('{');
}

ObjectWriter::~ObjectWriter()
{
    try
    {
        close();
    }
    catch (...)
    {
        // A stream that throws on failure; the caller learns of it from the stream's state.
    }
}

void ObjectWriter::writeKey(const char* key, std::size_t length)
{
    if (!mFirst)
        mStream->put(',');
    if (mFlags & prettyLayout)
        *mStream << '\n' << std::string(mDepth + 1, '\t');
    mFirst = false;
    writeString(*mStream, key, key + length);
    mStream->put(':');
    if (mFlags & prettyLayout)
        mStream->put(' ');
}

ObjectWriter ObjectWriter::openObject()
{
    return ObjectWriter(*mStream, mDepth + 1, mFlags);
}

ArrayWriter ObjectWriter::openArray()
{
    return ArrayWriter(*mStream, mDepth + 1, mFlags);
}

void ObjectWriter::close()
{
    if (mStream == nullptr)
        return;
    std::ostream& out = *mStream;
    mStream = nullptr;
    if ((mFlags & prettyLayout) && !mFirst)
        out << '\n' << std::string(mDepth, '\t');
    out.put('}');
}

ArrayWriter::ArrayWriter(std::ostream& out, std::uint32_t depth, std::int32_t flags)
    : mStream(&out), mDepth(depth), mFlags(flags)
{
    out.put('[');
}

ArrayWriter::~ArrayWriter()
{
    try
    {
        close();
    }
    catch (...)
    {
        // As for ObjectWriter.
    }
}

void ArrayWriter::startItem()
{
    if (!mFirst)
        *mStream << ((mFlags & prettyLayout) ? ", " : ",");
    mFirst = false;
}

void ArrayWriter::writeStrings(const std::vector<std::wstring>& items)
{
    for (const std::wstring& item : items)
    {
        startItem();
        writeString(*mStream, item.data(), item.data() + item.size());
    }
}

void ArrayWriter::close()
{
    if (mStream == nullptr)
        return;
    std::ostream& out = *mStream;
    mStream = nullptr;
    out.put(']');
}

} // namespace json_spirit
