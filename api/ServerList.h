#pragma once
// The Wayfold servers the program can sign in to, read from "Servers.json": each server's addresses, timings,
// security switches and upload limit, the default server, the server for each country and the default blacklists.

#include "qcl/Error.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace json_spirit
{
class Value;
}

namespace dwl
{
class ServerList
{
public:
    class Error : public qcl::basic_runtime_error<wchar_t>
    {
    public:
        explicit Error(const std::wstring& message) : basic_runtime_error(message) {}
    };

    struct Server
    {
        std::wstring key; // the server's name in "Servers", as the configuration stores it
        std::wstring displayName;
        std::string baseUrl;
        std::string restUrl;
        std::string signUpUrl;
        std::string forgottenPasswordUrl;
        std::string downloadsUrl;
        std::string upgradeInfoUrl;
        std::int64_t maxUploadSize = 0;
        std::uint64_t messagePollingIntervalInSeconds = 0;
        std::uint64_t upgradeInfoPollingIntervalInSeconds = 0;
        std::uint64_t upgradeInfoRetryIntervalInSeconds = 0;
        std::uint64_t delayBeforeCheckingForUpgradeInSeconds = 0;
        bool checkCertificate = true;
        bool checkForGenuineServer = false;
    };

    using Servers = std::vector<std::unique_ptr<Server>>;
    using CountryToServer = std::map<std::wstring, const Server*>;

    ServerList() = default;
    ServerList(ServerList&&) noexcept = default;
    ServerList& operator=(ServerList&&) noexcept = default;

    // Reads the brace-less member list of the file. Throws Error for a bad address, a server that is named but
    // not listed, and a list without any server ("The server list '<path>' names no server"), and the JSON
    // library's and the file functions' errors unchanged.
    static ServerList loadFromFile(const std::wstring& path);
    // The same over a parsed document (an object); a list without any server: "The server list names no server".
    static ServerList loadFromValue(const json_spirit::Value& root);

    static std::unique_ptr<Server> newServer();

    // Throws Error "Bad URL '%1%'" unless the address begins with "http://" or "https://".
    static void checkUrl(const std::string& url);

    // The server for the user's country; the default server when the country is unknown or not mapped.
    const Server* getServerForUserLocation() const;

    // The server of that key, or null.
    const Server* find(const std::wstring& key) const;

    const Server* defaultServer() const { return mDefaultServer; }
    const Servers& servers() const { return mServers; } // in key order
    const CountryToServer& countryToServer() const { return mCountryToServer; }
    const std::vector<std::wstring>& documentBlackList() const { return mDocumentBlackList; }
    const std::vector<std::wstring>& folderBlackList() const { return mFolderBlackList; }

    // One entry of the country map: the code (UTF-8) and the server it names.
    static CountryToServer::value_type makeCountryEntry(const std::string& countryCode, const Server* server);

private:
    // `source` names the file in messages; empty for a document read elsewhere.
    static ServerList load(const json_spirit::Value& root, const std::wstring& source);
    void insert(std::unique_ptr<Server> server);
    const Server* findOrThrow(const std::wstring& key, const wchar_t* message) const;

    std::vector<std::wstring> mDocumentBlackList;
    std::vector<std::wstring> mFolderBlackList;
    Servers mServers;
    const Server* mDefaultServer = nullptr;
    CountryToServer mCountryToServer;
};
} // namespace dwl
