// Any text either parses or throws ParseError; what parses survives a write and a second parse. A memory
// budget only ever refuses a text: what it lets through is the value read without one. An array read one
// element at a time gives the elements of the whole.
#include "json_round_trip.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    json_spirit::Value value;
    try
    {
        value = json_spirit::parse(text);
    }
    catch (const json_spirit::ParseError&)
    {
        return 0;
    }
    try
    {
        if (!(json_spirit::parse(text, 8 * size) == value))
            std::abort();
    }
    catch (const json_spirit::ParseError&)
    {
    }
    if (value.kind() == json_spirit::Kind::array)
    {
        json_spirit::Array elements;
        json_spirit::parseElements(text, std::numeric_limits<std::size_t>::max(),
                                   [&](json_spirit::Value& element) { elements.push_back(std::move(element)); });
        if (!(elements == value.getArray()))
            std::abort();
    }
    fuzz::checkRoundTrip(value);
    return 0;
}
