// Every REST operation but the content transfers, against the fake server: the requests as sent and the answers
// as read.

#include "ApiTestSupport.h"

#include "url/Error.h"

namespace
{
using apitest::ApiTest;
using fake::RecordedRequest;

constexpr const char* kV2 = "application/vnd.quillmere.wayfold-v2+json";
constexpr const char* kV3 = "application/vnd.quillmere.wayfold-v3+json";

void expectRequest(const RecordedRequest& request, const std::string& method, const std::string& target,
                   const std::string& accept)
{
    EXPECT_EQ(request.method, method);
    EXPECT_EQ(request.target, target);
    EXPECT_EQ(request.header("Accept"), accept);
    EXPECT_EQ(request.header("Authorization").rfind("Basic ", 0), 0u);
}

void expectJsonPost(const RecordedRequest& request, const std::string& target, const std::string& mediaType,
                    const std::string& body)
{
    expectRequest(request, "POST", target, mediaType);
    EXPECT_EQ(request.header("Content-Type"), mediaType);
    EXPECT_EQ(request.header("Accept-Charset"), "utf-8");
    EXPECT_EQ(request.body, body);
}

TEST_F(ApiTest, UserIdIsAskedOnceAndAgainAfterNewSettings)
{
    const qcl::uint128 expected = id(server.userId(apitest::kEmail));
    EXPECT_EQ(api.getUserId(), expected);
    EXPECT_EQ(api.getUserId(), expected);
    auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    expectRequest(requests[0], "GET", "/rest/users?emailAddress=ann%2btest%40example.com", kV2);
    EXPECT_EQ(requests[0].header("Accept-Charset"), "utf-8");

    api.setServerUrl(server.baseUrl() + "/rest");
    EXPECT_EQ(api.getUserId(), expected);
    api.setCredentials(qcl::string::utf8ToUtf16(apitest::kEmail), qcl::string::utf8ToUtf16(apitest::kPassword));
    EXPECT_EQ(api.getUserId(), expected);
    EXPECT_EQ(takeRequests().size(), 2u);
}

TEST_F(ApiTest, DevicesAreRegisteredAndUnregistered)
{
    const std::string user = server.userId(apitest::kEmail);
    const qcl::uint128 device = api.registerDevice();
    EXPECT_EQ(server.devices(apitest::kEmail), std::vector<std::string>{device.str()});
    auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    expectJsonPost(requests[1], "/rest/users/" + user + "/devices", kV2, "{}");

    api.unregisterDevice(device);
    EXPECT_TRUE(server.devices(apitest::kEmail).empty());
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    expectRequest(requests[0], "DELETE", "/rest/users/" + user + "/devices/" + device.str(), "*/*");

    // A refusal of any HTTP status is swallowed; an unreachable server is not.
    EXPECT_NO_THROW(api.unregisterDevice(device));
    server.addFault(fake::FaultRule::status_("DELETE", "/rest/users/.*", 403, R"({"key":"permission.denied"})"));
    EXPECT_NO_THROW(api.unregisterDevice(device));
    api.setMustCloseSocket(true);
    EXPECT_THROW(api.unregisterDevice(device), url::NetworkError);
}

TEST_F(ApiTest, ServerMessagesFollowTheCursor)
{
    api.setDeviceId(api.registerDevice());
    EXPECT_EQ(api.getServerMessage(0), std::nullopt);
    const auto share = makeShare();
    const auto message = api.getServerMessage(0);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->type, dwl::EventType::shareCreated);
    EXPECT_EQ(message->shareId, share.first);
    EXPECT_EQ(message->assetId, share.second);
    EXPECT_EQ(api.getServerMessage(message->number + 1), std::nullopt);

    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    expectRequest(requests[1], "GET",
                  "/rest/users/" + api.getUserId().str() + "/devices/" + server.devices(apitest::kEmail)[0] +
                      "/messages?length=1&startId=" + std::to_string(message->number + 1),
                  kV3);
}

TEST_F(ApiTest, SharesAreCreatedListedReadAndRemoved)
{
    api.getUserId();
    takeRequests();
    const auto share = api.createShare(L"Q\"\\ \x00e9", false);
    auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    expectJsonPost(requests[0], "/rest/shares", "application/json",
                   "{\"folderName\":\"Q\\\"\\\\ \xc3\xa9\",\"assetPrivilege\":\"CANADDDOC\",\"assignedPrivilege\":"
                   "\"CANREAD\"}");
    EXPECT_EQ(server.asset(share.second.str())->name, "Q\"\\ \xc3\xa9");

    const std::vector<dwl::IWayfoldApi::Share> expected{{share.first, share.second, L"Q\"\\ \x00e9"}};
    EXPECT_EQ(api.getShares(), expected);
    EXPECT_EQ(api.getShareProperties(share.first), expected[0]);
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 4u);
    expectRequest(requests[0], "GET", "/rest/shares?participant=ann%2btest%40example.com", "application/json");
    expectRequest(requests[1], "GET",
                  "/rest/participants?shareUuid=" + share.first.str() + "&userUuid=" + api.getUserId().str(),
                  "application/hal+json");
    expectRequest(requests[2], "GET", "/rest/shares/" + share.first.str(), "application/json");

    api.removeShare(share.first);
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    expectRequest(requests[1], "DELETE", "/rest/shares/" + share.first.str(), "*/*");
    EXPECT_FALSE(server.asset(share.second.str()));
    EXPECT_TRUE(api.getShares().empty());
    // Sent again after a lost answer, a removal finds nothing to remove: done.
    EXPECT_NO_THROW(api.removeShare(share.first));
}

TEST_F(ApiTest, ASharedShareCountsOnlyOnceAcceptedAndIsLeftNotDeleted)
{
    const auto other = server.createShare(apitest::kOtherEmail, "Theirs");
    const auto shareId = id(other.shareId);
    EXPECT_TRUE(api.getShares().empty());
    try
    {
        api.getShareProperties(shareId);
        FAIL() << "a Share of another user was read";
    }
    catch (const url::ForbiddenError& e)
    {
        EXPECT_EQ(e.code.value(), 4);
        EXPECT_STREQ(e.code.category().name(), "Wayfold");
    }

    const std::string participant = server.addParticipant(other.shareId, apitest::kEmail);
    EXPECT_TRUE(api.getShares().empty());
    try
    {
        api.getShareProperties(shareId);
        FAIL() << "a Share not accepted was read";
    }
    catch (const url::ForbiddenError& e)
    {
        EXPECT_EQ(e.code.value(), 4);
        EXPECT_EQ(e.serverMessage, L"User has not accepted the Share yet");
        EXPECT_EQ(e.message(), L"User has not accepted the Share yet: Server responded with HTTP error 403");
    }

    server.accept(other.shareId, apitest::kEmail);
    ASSERT_EQ(api.getShares().size(), 1u);
    EXPECT_EQ(api.getShareProperties(shareId).name, L"Theirs");
    takeRequests();

    api.removeShare(shareId);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    expectRequest(requests[1], "DELETE", "/rest/participants/" + participant, "*/*");
    EXPECT_TRUE(server.asset(other.rootId).has_value());
}

TEST_F(ApiTest, AssetsAreCreatedRenamedMovedAndRemoved)
{
    const auto share = makeShare();
    const std::string assets = "/rest/shares/" + share.first.str() + "/assets";
    const qcl::uint128 folder = api.createFolder(L"Sub", share);
    const qcl::uint128 document = api.createDocument(L"a.tar.gz", share);
    const qcl::uint128 plain = api.createDocument(L".profile", {share.first, folder});
    auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string parent = "\"parent\":{\"uuid\":\"" + share.second.str() + "\"}";
    expectJsonPost(requests[0], assets, kV2, "{\"type\":\"FOLDER\",\"name\":\"Sub\"," + parent + "}");
    expectJsonPost(requests[1], assets, kV2,
                   "{\"type\":\"DOCUMENT\",\"name\":\"a.tar\",\"extension\":\"gz\"," + parent + "}");
    expectJsonPost(requests[2], assets, kV2,
                   "{\"type\":\"DOCUMENT\",\"name\":\".profile\",\"extension\":\"\",\"parent\":{\"uuid\":\"" +
                       folder.str() + "\"}}");

    api.renameDocument({share.first, document}, L"notes");
    api.renameFolder({share.first, folder}, L"Renamed.d");
    api.moveAsset({share.first, document}, folder);
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 3u);
    expectJsonPost(requests[0], assets + "/" + document.str(), kV2, R"({"name":"notes","extension":""})");
    expectJsonPost(requests[1], assets + "/" + folder.str(), kV2, R"({"name":"Renamed.d"})");
    expectJsonPost(requests[2], assets + "/" + document.str(), kV2, "{\"parent\":{\"uuid\":\"" + folder.str() + "\"}}");
    const auto moved = server.asset(document.str());
    EXPECT_EQ(moved->name, "notes");
    EXPECT_EQ(moved->parentId, folder.str());

    api.removeAsset({share.first, folder});
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    expectRequest(requests[0], "DELETE", assets + "/" + folder.str(), "*/*");
    EXPECT_FALSE(server.asset(plain.str()));
    EXPECT_THROW(api.getAssetProperties({share.first, document}), url::NotFoundError);
    EXPECT_NO_THROW(api.removeAsset({share.first, folder}));
}

TEST_F(ApiTest, AssetPropertiesListAncestorsFromTheRootDown)
{
    const auto share = makeShare(L"Top");
    const qcl::uint128 a = api.createFolder(L"A", share);
    const qcl::uint128 b = api.createFolder(L"B", {share.first, a});
    const qcl::uint128 document = api.createDocument(L"r.txt", {share.first, b});
    takeRequests();

    const auto properties = api.getAssetProperties({share.first, document});
    EXPECT_EQ(properties.assetId, document);
    EXPECT_EQ(properties.name, L"r.txt");
    EXPECT_EQ(properties.type, dwl::IWayfoldApi::Asset::Document);
    const std::vector<dwl::IWayfoldApi::AssetProperties::Ancestor> expected{
        {share.second, L"Top"}, {a, L"A"}, {b, L"B"}};
    EXPECT_EQ(properties.ancestors, expected);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    expectRequest(requests[0], "GET",
                  "/rest/shares/" + share.first.str() + "/assets/ancestors?ancestorOf=" + document.str(), kV2);
}

TEST_F(ApiTest, ChildrenOfTheRootAreAskedWithoutAQuery)
{
    const auto share = makeShare();
    const qcl::uint128 folder = api.createFolder(L"F", share);
    const qcl::uint128 document = api.createDocument(L"x.pdf", {share.first, folder});
    server.putContent(document.str(), "abc");
    takeRequests();

    const auto top = api.getChildren(share);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].assetId, folder);
    EXPECT_EQ(top[0].type, dwl::IWayfoldApi::Asset::Folder);
    const auto inside = api.getChildren({share.first, folder});
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside[0].name, L"x.pdf");
    EXPECT_EQ(inside[0].contentVersion, 1u);

    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 4u);
    const std::string shareUrl = "/rest/shares/" + share.first.str();
    expectRequest(requests[0], "GET", shareUrl, "application/json");
    expectRequest(requests[1], "GET", shareUrl + "/assets/children", "application/hal+json");
    expectRequest(requests[3], "GET", shareUrl + "/assets/children?childrenOf=" + folder.str(), "application/hal+json");
}
} // namespace
