// The member-list reader behind readFile (configuration file, server list): any text either gives an object
// or throws ParseError with its position; the object survives a write and a parse.
#include "json_round_trip.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    json_spirit::Value members;
    try
    {
        members = json_spirit::parseMemberList(std::string_view(reinterpret_cast<const char*>(data), size));
    }
    catch (const json_spirit::ParseError& error)
    {
        if (std::strncmp(error.what(), "At position ", 12) != 0)
            std::abort();
        return 0;
    }
    if (members.kind() != json_spirit::Kind::object)
        std::abort();
    fuzz::checkRoundTrip(members);
    return 0;
}
