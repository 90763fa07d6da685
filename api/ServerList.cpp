#include "api/ServerList.h"

#include "compat/GeoInfo.h"
#include "compat/LastError.h"
#include "json_spirit/Error.h"
#include "json_spirit/Reader.h"
#include "json_spirit/Value.h"
#include "json_spirit/Writer.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/String.h"

#include <algorithm>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace dwl
{
namespace
{
constexpr std::uint64_t defaultMessagePollingIntervalInSeconds = 30;
constexpr std::uint64_t defaultUpgradeInfoPollingIntervalInSeconds = 3600;
constexpr std::uint64_t defaultUpgradeInfoRetryIntervalInSeconds = 60;
constexpr std::uint64_t defaultDelayBeforeCheckingForUpgradeInSeconds = 15;
constexpr std::int64_t defaultMaxUploadSize = std::int64_t(2) * 1024 * 1024 * 1024;

// A signed 64-bit member: null gives the default, a number must fit, any other kind is a type error.
std::int64_t getInt64Or(const json_spirit::Value& value, std::int64_t fallback)
{
    switch (value.kind())
    {
    case json_spirit::Kind::null:
        return fallback;
    case json_spirit::Kind::integer:
        return value.integer();
    case json_spirit::Kind::unsignedInteger:
        if (value.unsignedInteger() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw std::overflow_error(std::to_string(value.unsignedInteger()) + " cannot be converted to __int64");
        return static_cast<std::int64_t>(value.unsignedInteger());
    default:
        throw json_spirit::TypeError(json_spirit::Kind::integer, value.kind());
    }
}

std::unique_ptr<ServerList::Server> readServer(const std::string& key, const json_spirit::Value& value)
{
    auto server = ServerList::newServer();
    server->key = qcl::string::utf8ToUtf16(key);
    server->displayName = value["DisplayName"].getWString();
    server->baseUrl = value["BaseUrl"].getString();
    ServerList::checkUrl(server->baseUrl);
    server->restUrl = server->baseUrl + "/rest";
    server->signUpUrl = server->baseUrl + "/#/signupform";
    server->forgottenPasswordUrl = server->baseUrl + "/#/forgotpassword";
    server->downloadsUrl = value["DownloadsUrl"].getStringOr({});
    if (!server->downloadsUrl.empty())
        ServerList::checkUrl(server->downloadsUrl);
    server->upgradeInfoUrl = value["UpgradeInfoUrl"].getStringOr({});
    if (!server->upgradeInfoUrl.empty())
        ServerList::checkUrl(server->upgradeInfoUrl);
    server->messagePollingIntervalInSeconds =
        value["MessagePollingIntervalInSeconds"].getUIntOr(defaultMessagePollingIntervalInSeconds);
    server->upgradeInfoPollingIntervalInSeconds =
        value["UpgradeInfoPollingIntervalInSeconds"].getUIntOr(defaultUpgradeInfoPollingIntervalInSeconds);
    server->upgradeInfoRetryIntervalInSeconds =
        value["UpgradeInfoRetryIntervalInSeconds"].getUIntOr(defaultUpgradeInfoRetryIntervalInSeconds);
    server->delayBeforeCheckingForUpgradeInSeconds =
        value["DelayBeforeCheckingForUpgradeInSeconds"].getUIntOr(defaultDelayBeforeCheckingForUpgradeInSeconds);
    server->checkCertificate = value["CheckCertificate"].getBoolOr(true);
    server->checkForGenuineServer = value["CheckForGenuineServer"].getBoolOr(true);
    server->maxUploadSize = getInt64Or(value["MaxUploadSize"], defaultMaxUploadSize);
    return server;
}

// The two-letter code of the user's nation, as the system gives it.
std::wstring userCountryCode()
{
    const GEOID nation = GetUserGeoID(GEOCLASS_NATION);
    wchar_t code[256];
    if (GetGeoInfoW(nation, GEO_ISO2, code, 256, 0) == 0)
        throw qcl::SystemError(qcl::format(L"Cannot retrieve info %1% for geographical ID %2%", GEO_ISO2, nation),
                               GetLastError());
    return code;
}
} // namespace

ServerList ServerList::loadFromFile(const std::wstring& path)
{
    return load(json_spirit::readFile(path), path);
}

ServerList ServerList::loadFromValue(const json_spirit::Value& root)
{
    return load(root, {});
}

ServerList ServerList::load(const json_spirit::Value& root, const std::wstring& source)
{
    root.getObject();
    QCL_LOG_TRACE(L"Parsed Servers list as " << [&] {
        std::wostringstream text;
        json_spirit::write(text, root);
        return text.str();
    }());

    ServerList list;
    list.mDocumentBlackList = root["DocumentBlackList"].getWStringArray();
    list.mFolderBlackList = root["FolderBlackList"].getWStringArray();
    for (const auto& [key, value] : root["Servers"].getObject())
        list.insert(readServer(key, value));
    // A list as installed before the deployment has written its servers.
    if (list.mServers.empty())
        throw Error(source.empty() ? L"The server list names no server"
                                   : qcl::format(L"The server list '%1%' names no server", source));

    list.mDefaultServer = list.findOrThrow(root["DefaultServer"].getWString(), L"Cannot find default server '%1%'");

    const json_spirit::Value& countries = root["CountryToServer"];
    if (!countries.isNull())
    {
        for (const auto& [country, serverKey] : countries.getObject())
            list.mCountryToServer.insert(
                makeCountryEntry(country, list.findOrThrow(serverKey.getWString(), L"Cannot find server '%1%'")));
    }
    return list;
}

std::unique_ptr<ServerList::Server> ServerList::newServer()
{
    return std::make_unique<Server>();
}

void ServerList::checkUrl(const std::string& url)
{
    if (!url.starts_with("http://") && !url.starts_with("https://"))
        throw Error(qcl::format(L"Bad URL '%1%'", url));
}

const ServerList::Server* ServerList::getServerForUserLocation() const
{
    try
    {
        const auto found = mCountryToServer.find(userCountryCode());
        return found == mCountryToServer.end() ? mDefaultServer : found->second;
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_ERROR(error.message());
        return mDefaultServer;
    }
}

const ServerList::Server* ServerList::find(const std::wstring& key) const
{
    const auto found = std::lower_bound(mServers.begin(), mServers.end(), key,
                                        [](const auto& server, const std::wstring& k) { return server->key < k; });
    return found != mServers.end() && (*found)->key == key ? found->get() : nullptr;
}

ServerList::CountryToServer::value_type ServerList::makeCountryEntry(const std::string& countryCode,
                                                                     const Server* server)
{
    return {qcl::string::utf8ToUtf16(countryCode), server};
}

void ServerList::insert(std::unique_ptr<Server> server)
{
    const auto position =
        std::lower_bound(mServers.begin(), mServers.end(), server->key,
                         [](const auto& existing, const std::wstring& key) { return existing->key < key; });
    mServers.insert(position, std::move(server));
}

const ServerList::Server* ServerList::findOrThrow(const std::wstring& key, const wchar_t* message) const
{
    const Server* server = find(key);
    if (!server)
        throw Error(qcl::format(message, key));
    return server;
}
} // namespace dwl
