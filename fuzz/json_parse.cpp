// Any text either parses or throws ParseError; what parses survives a write and a second parse. A memory
// budget only ever refuses a text: what it lets through is the value read without one.
#include "json_round_trip.h"

#include <cstdint>
#include <cstdlib>

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
    fuzz::checkRoundTrip(value);
    return 0;
}
