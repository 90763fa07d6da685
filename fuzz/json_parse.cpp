// Any text either parses or throws ParseError; what parses survives a write and a second parse.
#include "json_round_trip.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    json_spirit::Value value;
    try
    {
        value = json_spirit::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    }
    catch (const json_spirit::ParseError&)
    {
        return 0;
    }
    fuzz::checkRoundTrip(value);
    return 0;
}
