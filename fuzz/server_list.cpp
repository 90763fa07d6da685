// The server list from any text: it loads or throws one of the documented errors, and a loaded list is
// consistent (servers in key order, every reference pointing at one of its own servers).
#include "api/ServerList.h"
#include "json_spirit/Reader.h"
#include "json_spirit/Value.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace
{
bool owns(const dwl::ServerList& list, const dwl::ServerList::Server* server)
{
    return server != nullptr && list.find(server->key) == server;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    dwl::ServerList list;
    try
    {
        list = dwl::ServerList::loadFromValue(
            json_spirit::parseMemberList(std::string_view(reinterpret_cast<const char*>(data), size)));
    }
    catch (const std::runtime_error&) // ServerList::Error, the JSON library's errors, std::overflow_error
    {
        return 0;
    }
    if (!owns(list, list.defaultServer()) || !owns(list, list.getServerForUserLocation()))
        std::abort();
    for (std::size_t i = 0; i < list.servers().size(); ++i)
    {
        const auto& server = *list.servers()[i];
        if ((i > 0 && !(list.servers()[i - 1]->key < server.key)) ||
            server.restUrl != server.baseUrl + "/rest")
            std::abort();
    }
    for (const auto& [country, server] : list.countryToServer())
        if (!owns(list, server))
            std::abort();
    return 0;
}
