#include "json_spirit/Reader.h"

#include <cstdint>
#include <functional>
#include <limits>

#include "json_spirit/Unicode.h"

namespace json_spirit
{
namespace
{

bool isWhitespace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isWordStart(char c)
{
    return isLetter(c) || c == '_';
}
bool isWordPart(char c)
{
    return isWordStart(c) || isDigit(c);
}

int hexDigitValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A recursive-descent reader over one text. Each read* function skips the whitespace before its construct
// (except readWord, which goes on where readString stopped) and returns whether it found the construct; a
// construct that starts but is malformed throws ParseError with the cursor left where the fault is.
class Reader
{
public:
    Reader(const char* begin, const char* end, std::size_t memoryBudget = std::numeric_limits<std::size_t>::max())
        : mBegin(begin), mNext(begin), mEnd(end), mBudget(memoryBudget)
    {
    }

    bool atEnd() const { return mNext == mEnd; }
    std::size_t offset() const { return static_cast<std::size_t>(mNext - mBegin); }

    void skipWhitespace()
    {
        while (mNext != mEnd && isWhitespace(*mNext))
            ++mNext;
    }

    // A number, a quoted string, a bare word, an array or an object, tried in this order. A bare word other
    // than null, true or false is no value and is left in place, so that inside an array it fails on the
    // missing "]" instead of silently dropping the element or cutting a number short ("[1e3]").
    bool readValue(Value& out)
    {
        if (readNumber(out))
            return true;
        std::string text;
        if (readString(text))
        {
            charge(text.size());
            out = Value(std::move(text));
            return true;
        }
        const auto wordStart = mNext;
        std::string_view word;
        if (readWord(word))
        {
            if (word == "null")
                out = Value();
            else if (word == "true")
                out = Value(true);
            else if (word == "false")
                out = Value(false);
            else
            {
                mNext = wordStart;
                return false;
            }
            return true;
        }
        return readArray(out) || readObject(out);
    }

    // An array whose elements go to `each` one at a time, each read with the whole budget; false when no array
    // starts here.
    bool readElements(const std::function<void(Value&)>& each)
    {
        const std::size_t budget = mBudget;
        return readArrayWith(
            [&]
            {
                Value element;
                mBudget = budget;
                if (!readValue(element))
                    return false;
                each(element);
                return true;
            });
    }

    // Members "key: value" until no key follows. Keys are quoted strings or bare words; commas are optional.
    void readMembers(Object& members)
    {
        std::string key;
        for (;;)
        {
            key.clear();
            if (!readString(key))
            {
                std::string_view word;
                if (!readWord(word))
                    return;
                key.assign(word);
            }
            skipWhitespace();
            if (!take(':'))
                fail("Expected : after key name in object");
            charge(kMemberCost + key.size());
            if (!readValue(members[key]))
                fail("Expected JSON result in object");
            skipWhitespace();
            take(',');
        }
    }

private:
    [[noreturn]] void fail(const char* reason) { throw ParseError(reason); }

    bool take(char expected)
    {
        if (mNext == mEnd || *mNext != expected)
            return false;
        ++mNext;
        return true;
    }

    // An optional sign and decimal digits; no fraction, no exponent.
    bool readNumber(Value& out)
    {
        skipWhitespace();
        const bool negative = take('-');
        const bool signGiven = negative || take('+');
        if (mNext == mEnd || !isDigit(*mNext))
        {
            if (signGiven)
                fail("Expected number");
            return false;
        }
        std::uint64_t magnitude = 0;
        constexpr auto max = std::numeric_limits<std::uint64_t>::max();
        for (; mNext != mEnd && isDigit(*mNext); ++mNext)
        {
            const unsigned digit = static_cast<unsigned>(*mNext - '0');
            if (magnitude > (max - digit) / 10)
                fail("Integer too big");
            magnitude = magnitude * 10 + digit;
        }
        if (!negative)
        {
            out = Value(magnitude);
            return true;
        }
        constexpr auto largestNegativeMagnitude = std::uint64_t{1} << 63;
        if (magnitude > largestNegativeMagnitude)
            fail("Integer too big");
        // Negating in unsigned arithmetic keeps -9223372036854775808 representable.
        out = Value(static_cast<std::int64_t>(0 - magnitude));
        return true;
    }

    // A double-quoted string with JSON escapes; other bytes are copied unchecked (the accessors check UTF-8).
    bool readString(std::string& out)
    {
        skipWhitespace();
        if (!take('"'))
            return false;
        for (;;)
        {
            const char* run = mNext;
            while (mNext != mEnd && *mNext != '"' && *mNext != '\\' && *mNext != '\n')
                ++mNext;
            out.append(run, mNext);
            if (mNext == mEnd)
                fail("Unexpected end of input in quoted string");
            switch (*mNext)
            {
            case '"':
                ++mNext;
                return true;
            case '\n':
                fail("Expected closing quote \" at the end of quoted string");
            default:
                ++mNext;
                readEscape(out);
            }
        }
    }

    // The escape after a backslash.
    void readEscape(std::string& out)
    {
        if (mNext == mEnd)
            fail("Unexpected end of input after backslash in quoted string");
        const char c = *mNext;
        char plain;
        switch (c)
        {
        case '"':
            plain = '"';
            break;
        case '\\':
            plain = '\\';
            break;
        case '/':
            plain = '/';
            break;
        case 'b':
            plain = '\b';
            break;
        case 'f':
            plain = '\f';
            break;
        case 'n':
            plain = '\n';
            break;
        case 'r':
            plain = '\r';
            break;
        case 't':
            plain = '\t';
            break;
        case 'u':
            ++mNext;
            readUnicodeEscape(out);
            return;
        default:
            fail("Unexpected character after backslash in quoted string");
        }
        ++mNext;
        out += plain;
    }

    // The 4 hexadecimal digits after \u, and a second \u escape after a leading surrogate. A surrogate that is
    // not half of a pair is text the JSON grammar allows (a name typed on another platform may carry one): it
    // is kept in the generalised UTF-8 form of its unit, which no UTF-8 accessor accepts, so that whoever reads
    // the string decides what it means.
    void readUnicodeEscape(std::string& out)
    {
        char32_t codePoint = readHexUnit();
        if (unicode::isLeadingSurrogate(codePoint) && mEnd - mNext >= 2 && mNext[0] == '\\' && mNext[1] == 'u')
        {
            const char* second = mNext;
            mNext += 2;
            const char32_t trailing = readHexUnit();
            if (unicode::isTrailingSurrogate(trailing))
                codePoint = unicode::combineSurrogates(codePoint, trailing);
            else
                mNext = second; // an escape of its own
        }
        char bytes[4];
        out.append(bytes, static_cast<std::size_t>(unicode::encodeUtf8(codePoint, bytes)));
    }

    char32_t readHexUnit()
    {
        char32_t unit = 0;
        for (int i = 0; i < 4; ++i)
        {
            const int digit = mNext == mEnd ? -1 : hexDigitValue(*mNext);
            if (digit < 0)
                fail("Expected 4 hexadecimal digits after \\u in quoted string");
            unit = unit * 16 + static_cast<char32_t>(digit);
            ++mNext;
        }
        return unit;
    }

    // A letter or '_', then letters, digits and '_'. Starts at the cursor, without skipping whitespace.
    bool readWord(std::string_view& word)
    {
        if (mNext == mEnd || !isWordStart(*mNext))
            return false;
        const char* start = mNext;
        while (mNext != mEnd && isWordPart(*mNext))
            ++mNext;
        word = std::string_view(start, static_cast<std::size_t>(mNext - start));
        return true;
    }

    // '[', values each followed by an optional comma, ']'. The elements end where no value can be read.
    bool readArray(Value& out)
    {
        Array* elements = nullptr;
        return readArrayWith(
            [&]
            {
                if (elements == nullptr)
                    elements = &out.makeArray();
                charge(kElementCost);
                elements->emplace_back();
                if (readValue(elements->back()))
                    return true;
                elements->pop_back();
                return false;
            });
    }

    // The frame of an array: readOne reads the next element, false where none starts (it is called at least
    // once, right after the '['). False when no array starts here.
    template <class ReadOne>
    bool readArrayWith(ReadOne readOne)
    {
        skipWhitespace();
        if (!take('['))
            return false;
        enterNesting();
        while (readOne())
        {
            skipWhitespace();
            take(',');
        }
        skipWhitespace();
        if (!take(']'))
            fail("Expected closing ] at end of array");
        --mDepth;
        return true;
    }

    bool readObject(Value& out)
    {
        skipWhitespace();
        if (!take('{'))
            return false;
        enterNesting();
        readMembers(out.makeObject());
        skipWhitespace();
        if (!take('}'))
            fail("Expected closing } at end of object");
        --mDepth;
        return true;
    }

    void enterNesting()
    {
        if (++mDepth > maxNestingDepth)
            fail("Too deeply nested arrays or objects");
    }

    // What the values read so far hold in memory, counted against the budget, so that a text of small
    // values (two bytes of "[]" make a value of 64) cannot take many times its size.
    void charge(std::size_t bytes)
    {
        if (bytes > mBudget)
            fail("More values than the memory allowed for them can hold");
        mBudget -= bytes;
    }
    // An element may leave as much room unused in its array, which doubles as it grows; a member is a node
    // of its object's hash table, with the links and the bucket that go with it.
    static constexpr std::size_t kElementCost = 2 * sizeof(Value);
    static constexpr std::size_t kMemberCost = sizeof(Object::value_type) + 4 * sizeof(void*);

    const char* mBegin;
    const char* mNext;
    const char* mEnd;
    std::size_t mBudget;
    unsigned mDepth = 0;
};

} // namespace

Value parse(std::string_view utf8, std::size_t memoryBudget)
{
    Reader reader(utf8.data(), utf8.data() + utf8.size(), memoryBudget);
    Value result;
    if (!reader.readValue(result))
        throw ParseError("Expected JSON value");
    reader.skipWhitespace();
    if (!reader.atEnd())
        throw ParseError("Unexpected character after JSON value");
    return result;
}

void parseElements(std::string_view utf8, std::size_t elementBudget, const std::function<void(Value&)>& each)
{
    Reader reader(utf8.data(), utf8.data() + utf8.size(), elementBudget);
    if (!reader.readElements(each))
    {
        // Another value: read whole for the error it gives.
        const Value value = parse(utf8, elementBudget);
        throw TypeError(Kind::array, value.kind());
    }
    reader.skipWhitespace();
    if (!reader.atEnd())
        throw ParseError("Unexpected character after JSON value");
}

Value parseMemberList(std::string_view utf8)
{
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (utf8.starts_with(byteOrderMark))
        utf8.remove_prefix(byteOrderMark.size());
    Reader reader(utf8.data(), utf8.data() + utf8.size());
    Value result;
    try
    {
        reader.readMembers(result.makeObject());
        reader.skipWhitespace();
        if (!reader.atEnd())
            throw ParseError("Unexpected character");
    }
    catch (const ParseError& error)
    {
        throw error.atPosition(reader.offset());
    }
    return result;
}

} // namespace json_spirit
