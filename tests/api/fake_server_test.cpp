// The fake server's own promises that later tests build on: it flags requests that break the contract, delivers
// events to the Devices of accepted participants, and serves the upgrade information.

#include "ApiTestSupport.h"

#include "url/Session.h"

namespace
{
using apitest::ApiTest;

class FakeServerTest : public ApiTest
{
protected:
    // A request made with a bare session: credentials of the user, headers as given.
    std::string send(const std::string& path, const std::vector<std::string>& headers, const char* method = nullptr)
    {
        url::Session session;
        session.setCredentials(qcl::string::utf8ToUtf16(apitest::kEmail), qcl::string::utf8ToUtf16(apitest::kPassword));
        session.setUrl(server.baseUrl() + path);
        for (const auto& header : headers)
        {
            const auto colon = header.find(':');
            session.addHeader(header.substr(0, colon), header.substr(colon + 2));
        }
        if (method)
            session.setOption(CURLOPT_CUSTOMREQUEST, method);
        std::string body;
        session.setWriter(url::StringWriter(&body, 1 << 20));
        try
        {
            session.perform();
        }
        catch (const url::Error&)
        {
        }
        return body;
    }
};

TEST_F(FakeServerTest, RequestsBreakingTheContractAreListed)
{
    send("/rest/users?emailAddress=x", {"Accept: application/json"});
    const auto share = makeShare();
    std::string longForm = share.first.str();
    longForm.erase(4, 1);  // one "-" missing: still readable, but not the form the client must send
    send("/rest/shares/" + longForm, {"Accept: application/json"});
    {
        url::Session anonymous;
        anonymous.setUrl(server.baseUrl() + "/rest/setting");
        EXPECT_THROW(anonymous.perform(), url::HttpAuthenticationError);
    }
    const auto violations = server.violations();
    ASSERT_EQ(violations.size(), 3u);
    EXPECT_NE(violations[0].find("Accept"), std::string::npos);
    EXPECT_NE(violations[1].find("39-character"), std::string::npos);
    EXPECT_NE(violations[2].find("authentication"), std::string::npos);
    EXPECT_EQ(server.requests().back().status, 401);
    server.clearViolations();
}

TEST_F(FakeServerTest, EventsReachTheDevicesOfAcceptedParticipantsOnly)
{
    const auto share = server.createShare(apitest::kOtherEmail, "Shared");
    api.setDeviceId(api.registerDevice());
    server.addParticipant(share.shareId, apitest::kEmail);
    const auto rootId = qcl::uint128::parse(share.rootId);
    EXPECT_EQ(api.getServerMessage(0), std::nullopt);

    server.accept(share.shareId, apitest::kEmail);
    const auto accepted = api.getServerMessage(0);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->type, dwl::EventType::shareCreated);
    EXPECT_EQ(accepted->assetId, rootId);

    const dwl::IdPair root{qcl::uint128::parse(share.shareId), rootId};
    const auto folder = api.createFolder(L"F", root);
    EXPECT_THROW(api.moveAsset({root.first, folder}, folder), url::BadRequestError);  // into itself
    api.renameFolder(root, L"Renamed");
    std::vector<dwl::EventType> types;
    for (auto next = api.getServerMessage(accepted->number + 1); next; next = api.getServerMessage(next->number + 1))
        types.push_back(next->type);
    EXPECT_EQ(types, (std::vector<dwl::EventType>{dwl::EventType::folderCreated, dwl::EventType::shareUpdated}));
}

TEST_F(FakeServerTest, MovesOutOfTheirShareAreRefused)
{
    const auto first = makeShare(L"One");
    const auto second = makeShare(L"Two");
    const auto folder = api.createFolder(L"F", first);
    EXPECT_THROW(api.moveAsset({first.first, folder}, second.second), url::BadRequestError);
}

TEST_F(FakeServerTest, UpgradeInformationNeedsNoCredentials)
{
    server.setUpgrade({1, 14, 0}, "installer bytes");
    url::Session session;
    std::string info;
    session.setUrl(server.baseUrl() + "/upgrade/info");
    session.setWriter(url::StringWriter(&info, 1 << 20));
    session.perform();
    EXPECT_EQ(info, R"({"url":")" + server.baseUrl() + R"(/upgrade/installer","version":[1,14,0]})");
    std::string installer;
    session.setUrl(server.baseUrl() + "/upgrade/installer");
    session.setWriter(url::StringWriter(&installer, 1 << 20));
    session.perform();
    EXPECT_EQ(installer, "installer bytes");
}
} // namespace

namespace
{
TEST(FakeServerState, AServerWithADataFolderKnowsItsStateAfterARestart)
{
    const apitest::TemporaryFile place;
    const auto folder = place.path().parent_path() / "data";
    std::string userId;
    dwl::IdPair share;
    {
        fake::FakeWayfoldServer server({folder, {}, {}});
        server.start();
        userId = server.addUser(apitest::kEmail, apitest::kPassword);
        dwl::WayfoldApi api;
        api.setServerUrl(server.baseUrl() + "/rest");
        api.setCredentials(qcl::string::utf8ToUtf16(apitest::kEmail), qcl::string::utf8ToUtf16(apitest::kPassword));
        share = api.createShare(L"Kept", true);
    }
    fake::FakeWayfoldServer server({folder, {}, {}});
    server.start();
    EXPECT_EQ(server.addUser(apitest::kEmail, apitest::kPassword), userId);
    EXPECT_EQ(server.asset(share.second.str())->name, "Kept");
}
} // namespace
