#include "api/ServerList.h"

#include "compat/GeoInfo.h"
#include "json_spirit/Error.h"
#include "json_spirit/Reader.h"
#include "qcl/String.h"

#include "../support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace
{
using dwl::ServerList;

const std::string twoServers = R"(
DocumentBlackList: ["~$*", "*.tmp"]
Servers: {
    "Main": { "DisplayName": "Main server", "BaseUrl": "https://wayfold.example" }
    "Alpine": {
        "DisplayName": "Alpine \u00C4 server", "BaseUrl": "http://alpine.example/",
        "DownloadsUrl": "https://alpine.example/downloads", "UpgradeInfoUrl": "",
        "MessagePollingIntervalInSeconds": 5, "UpgradeInfoPollingIntervalInSeconds": 7,
        "UpgradeInfoRetryIntervalInSeconds": 9, "DelayBeforeCheckingForUpgradeInSeconds": 0,
        "CheckCertificate": null, "CheckForGenuineServer": false, "MaxUploadSize": 1048576
    }
}
DefaultServer: "Main"
CountryToServer: { "CH": "Alpine", "AT": "Alpine" }
)";

ServerList load(const std::string& text)
{
    return ServerList::loadFromValue(json_spirit::parseMemberList(text));
}

// Loading `text` fails with a ServerList::Error of exactly `message`.
void expectError(const std::string& text, const std::wstring& message)
{
    try
    {
        load(text);
        ADD_FAILURE() << "no error, expected " << qcl::string::utf16ToUtf8(message);
    }
    catch (const ServerList::Error& error)
    {
        EXPECT_EQ(error.message(), message);
    }
}

std::string withServer(const std::string& server, const std::string& tail = "DefaultServer: \"S\"")
{
    return "Servers: { \"S\": " + server + " }\n" + tail;
}

class UserLocale
{
public:
    explicit UserLocale(const char* name) { compat::setUserLocaleForTesting(std::string(name)); }
    ~UserLocale() { compat::setUserLocaleForTesting(std::nullopt); }
};
} // namespace

TEST(ServerList, ReadsServersInKeyOrderWithDefaultsAndDerivedAddresses)
{
    test::ScratchFolder folder;
    const std::string path = folder.writeFile("Servers.json", "\xEF\xBB\xBF" + twoServers);
    const ServerList list = ServerList::loadFromFile(qcl::string::utf8ToUtf16(path));

    ASSERT_EQ(list.servers().size(), 2u);
    EXPECT_EQ(list.servers()[0]->key, L"Alpine");
    EXPECT_EQ(list.servers()[1]->key, L"Main");
    EXPECT_EQ(list.defaultServer(), list.find(L"Main"));
    EXPECT_EQ(list.find(L"main"), nullptr);
    EXPECT_EQ(list.documentBlackList(), (std::vector<std::wstring>{L"~$*", L"*.tmp"}));
    EXPECT_TRUE(list.folderBlackList().empty());

    const ServerList::Server& main = *list.find(L"Main");
    EXPECT_EQ(main.displayName, L"Main server");
    EXPECT_EQ(main.restUrl, "https://wayfold.example/rest");
    EXPECT_EQ(main.signUpUrl, "https://wayfold.example/#/signupform");
    EXPECT_EQ(main.forgottenPasswordUrl, "https://wayfold.example/#/forgotpassword");
    EXPECT_EQ(main.downloadsUrl, "");
    EXPECT_EQ(main.messagePollingIntervalInSeconds, 30u);
    EXPECT_EQ(main.upgradeInfoPollingIntervalInSeconds, 3600u);
    EXPECT_EQ(main.upgradeInfoRetryIntervalInSeconds, 60u);
    EXPECT_EQ(main.delayBeforeCheckingForUpgradeInSeconds, 15u);
    EXPECT_TRUE(main.checkCertificate);
    EXPECT_TRUE(main.checkForGenuineServer);
    EXPECT_EQ(main.maxUploadSize, 2147483648);

    const ServerList::Server& alpine = *list.find(L"Alpine");
    EXPECT_EQ(alpine.displayName, L"Alpine \u00C4 server");
    EXPECT_EQ(alpine.restUrl, "http://alpine.example//rest");
    EXPECT_EQ(alpine.downloadsUrl, "https://alpine.example/downloads");
    EXPECT_EQ(alpine.messagePollingIntervalInSeconds, 5u);
    EXPECT_EQ(alpine.upgradeInfoPollingIntervalInSeconds, 7u);
    EXPECT_EQ(alpine.upgradeInfoRetryIntervalInSeconds, 9u);
    EXPECT_EQ(alpine.delayBeforeCheckingForUpgradeInSeconds, 0u);
    EXPECT_TRUE(alpine.checkCertificate);
    EXPECT_FALSE(alpine.checkForGenuineServer);
    EXPECT_EQ(alpine.maxUploadSize, 1048576);
    EXPECT_EQ(list.countryToServer().at(L"CH"), &alpine);

    ServerList moved = load(twoServers);
    const ServerList::Server* before = moved.find(L"Alpine");
    ServerList target = std::move(moved);
    EXPECT_EQ(target.find(L"Alpine"), before);
    EXPECT_EQ(target.countryToServer().at(L"AT"), before);
}

TEST(ServerList, DanglingNamesAndBadAddressesFailWithTheirMessages)
{
    expectError(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s"})", "DefaultServer: \"Other\""),
                L"Cannot find default server 'Other'");
    expectError(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s"})",
                           "DefaultServer: \"S\" CountryToServer: { \"CH\": \"S\", \"FR\": \"Gone\" }"),
                L"Cannot find server 'Gone'");
    expectError(withServer(R"({"DisplayName": "S", "BaseUrl": "HTTPS://s"})"), L"Bad URL 'HTTPS://s'");
    expectError(withServer(R"({"DisplayName": "S", "BaseUrl": "ftp://s"})"), L"Bad URL 'ftp://s'");
    expectError(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s", "DownloadsUrl": "s/d"})"),
                L"Bad URL 's/d'");
    expectError(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s", "UpgradeInfoUrl": "www.s"})"),
                L"Bad URL 'www.s'");
}

TEST(ServerList, WrongKindsAndMissingRequiredMembersFailWithTheJsonErrors)
{
    EXPECT_THROW(
        load(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s", "CheckCertificate": "no"})")),
        json_spirit::TypeError);
    EXPECT_THROW(load(withServer(R"({"BaseUrl": "https://s"})")), json_spirit::TypeError);
    EXPECT_THROW(load(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s", "MaxUploadSize": "1"})")),
                 json_spirit::TypeError);
    EXPECT_THROW(load(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s",
                                     "MessagePollingIntervalInSeconds": -1})")),
                 std::overflow_error);
    EXPECT_THROW(load(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s",
                                     "UpgradeInfoRetryIntervalInSeconds": 4294967296})")),
                 std::overflow_error);
    EXPECT_THROW(load("DefaultServer: \"S\""), json_spirit::TypeError);
    EXPECT_THROW(load(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s"})", "")),
                 json_spirit::TypeError);
    EXPECT_THROW(ServerList::loadFromFile(L"/nonexistent/Servers.json"), std::exception);
}

TEST(ServerList, ServerForUserLocationFollowsTheLocaleTerritory)
{
    const ServerList list = load(twoServers);
    {
        UserLocale locale("de_CH.UTF-8");
        EXPECT_EQ(list.getServerForUserLocation()->key, L"Alpine");
    }
    {
        UserLocale locale("en_US.UTF-8");
        EXPECT_EQ(list.getServerForUserLocation()->key, L"Main");
    }
    {
        UserLocale locale("C");
        EXPECT_EQ(list.getServerForUserLocation()->key, L"Main");
    }
    {
        UserLocale locale("de_ch");
        EXPECT_EQ(list.getServerForUserLocation()->key, L"Main");
    }

    const ServerList noMap = load(withServer(R"({"DisplayName": "S", "BaseUrl": "https://s"})"));
    UserLocale locale("de_CH.UTF-8");
    EXPECT_EQ(noMap.getServerForUserLocation()->key, L"S");
}

TEST(ServerList, TerritoryComesFromTheFirstSetLocaleVariable)
{
    EXPECT_EQ(compat::territoryOfLocale("en_GB.UTF-8@euro"), "GB");
    EXPECT_EQ(compat::territoryOfLocale("sr_RS@latin"), "RS");
    EXPECT_EQ(compat::territoryOfLocale("es_419.UTF-8"), "");
    EXPECT_EQ(compat::territoryOfLocale("POSIX"), "");

    ::setenv("LC_ALL", "", 1);
    ::setenv("LC_MESSAGES", "fr_CH.UTF-8", 1);
    ::setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(load(twoServers).getServerForUserLocation()->key, L"Alpine");
    ::setenv("LC_ALL", "en_AU.UTF-8", 1);
    EXPECT_EQ(load(twoServers).getServerForUserLocation()->key, L"Main");
}

TEST(ServerList, TheInstalledListNamesNoServerAndTheDevelopmentListTheLocalOne)
{
    const std::filesystem::path source(WAYFOLD_SOURCE_DIR);
    const std::wstring installed = qcl::string::utf8ToUtf16((source / "data" / "Servers.json").string());
    try
    {
        ServerList::loadFromFile(installed);
        ADD_FAILURE() << "the installed list names a server";
    }
    catch (const ServerList::Error& error)
    {
        EXPECT_EQ(error.message(), L"The server list '" + installed + L"' names no server");
    }
    expectError("Servers: {}", L"The server list names no server");

    const ServerList development =
        ServerList::loadFromFile(qcl::string::utf8ToUtf16((source / "tools" / "Servers.json").string()));
    ASSERT_NE(development.defaultServer(), nullptr);
    EXPECT_EQ(development.defaultServer()->baseUrl.rfind("http://127.0.0.1:", 0), 0u);
}

TEST(ServerList, NewServerRecordChecksTheCertificate)
{
    EXPECT_TRUE(ServerList::newServer()->checkCertificate);
    EXPECT_TRUE(ServerList::Server().checkCertificate);
}
