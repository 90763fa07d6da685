// The REST frame: error statuses and server error bodies, the genuine-server check, the CSRF token, TLS.

#include "ApiTestSupport.h"

#include "api/ServerError.h"
#include "json_spirit/Error.h"
#include "support/TestCertificate.h"
#include "url/Error.h"

#include <algorithm>
#include <functional>

namespace
{
using apitest::ApiTest;
using fake::FaultKind;
using fake::FaultRule;

const std::wstring kNotGenuine = L"Not recognised as a genuine Wayfold server: Server response does not contain a "
                                 L"'Service' header set to 'Wayfold Web Services'";

// Runs the call, which must throw Expected; returns the error.
template <class Expected>
Expected caught(const std::function<void()>& call)
{
    try
    {
        call();
    }
    catch (const Expected& e)
    {
        return e;
    }
    catch (const std::exception& e)
    {
        ADD_FAILURE() << "other exception: " << e.what();
        throw;
    }
    ADD_FAILURE() << "no exception";
    throw std::logic_error("no exception");
}

class FrameTest : public ApiTest
{
protected:
    std::wstring settingUrl() const { return qcl::string::utf8ToUtf16(server.baseUrl()) + L"/rest/setting"; }
    void readSetting() { api.getUploadSpeedLimit(); }
};

TEST_F(FrameTest, EveryErrorStatusMapsToItsClass)
{
    const auto expectClass = [&](int status, auto expected, int code) {
        using Expected = decltype(expected);
        SCOPED_TRACE(status);
        server.addFault(FaultRule::status_("GET", "/rest/setting", status, "{}"));
        const auto error = caught<Expected>([&] { readSetting(); });
        EXPECT_EQ(error.code, std::error_code(code, url::httpCategory()));
        EXPECT_EQ(error.message(), L"Cannot GET " + settingUrl() + L": Server responded with HTTP error " +
                                       std::to_wstring(code));
    };
    expectClass(400, url::BadRequestError(L""), 400);
    expectClass(401, url::HttpAuthenticationError(L""), 401);
    expectClass(402, url::ClientSideError(402, L""), 402);
    expectClass(404, url::NotFoundError(L""), 404);
    expectClass(405, url::ClientSideError(405, L""), 405);
    expectClass(406, url::NotAcceptableError(L""), 406);
    expectClass(409, url::ConflictError(L""), 409);
    expectClass(410, url::NotFoundError(L""), 404);
    expectClass(500, url::ServerSideError(500, L""), 500);
    expectClass(503, url::ServerSideError(503, L""), 503);
    EXPECT_EQ(api.getUploadSpeedLimit(), 0u);
}

TEST_F(FrameTest, WrongPasswordIsAnAuthenticationError)
{
    api.setCredentials(qcl::string::utf8ToUtf16(apitest::kEmail), L"wrong");
    caught<url::HttpAuthenticationError>([&] { api.getUserId(); });
}

TEST_F(FrameTest, ForbiddenBodiesGiveTheServersCodeAndMessage)
{
    server.addFault(FaultRule::status_("POST", "/rest/shares", 403, R"({"key":"share.notFound","message":"Gone."})"));
    const auto refused = caught<url::ForbiddenError>([&] { api.createShare(L"S", true); });
    EXPECT_EQ(refused.code, dwl::make_error_code(dwl::ServerErrorCode::shareNotFound));
    EXPECT_EQ(refused.serverMessage, L"Gone.");
    EXPECT_EQ(refused.message(), L"Cannot POST " + qcl::string::utf8ToUtf16(server.baseUrl()) +
                                     L"/rest/shares: Wayfold server error 'share.notFound': Gone");

    server.addFault(FaultRule::status_("GET", "/rest/setting", 403, R"({"key":"brand.new"})"));
    const auto unknown = caught<url::ForbiddenError>([&] { readSetting(); });
    EXPECT_EQ(unknown.code, dwl::make_error_code(dwl::ServerErrorCode::unknown));
    EXPECT_EQ(unknown.code.message(), "ServerErrorCode(0)");
    EXPECT_EQ(unknown.message(), L"Cannot GET " + settingUrl() + L": Wayfold server error 'brand.new': ");

    server.addFault(FaultRule::status_("GET", "/rest/setting", 403, "not json"));
    const auto plain = caught<url::ForbiddenError>([&] { readSetting(); });
    EXPECT_EQ(plain.code, std::error_code(403, url::httpCategory()));
    EXPECT_EQ(plain.message(), L"Cannot GET " + settingUrl() +
                                   L": Server responded with HTTP error 403: Wayfold server error: not json");

    // Only 403 bodies are read.
    server.addFault(FaultRule::status_("GET", "/rest/setting", 404, R"({"key":"share.notFound"})"));
    EXPECT_EQ(caught<url::NotFoundError>([&] { readSetting(); }).code, std::error_code(404, url::httpCategory()));
}

TEST_F(FrameTest, AnswersWithoutTheServiceHeaderAreNotGenuine)
{
    server.addFault(FaultRule::of(FaultKind::OmitServiceHeader, "GET", "/rest/setting"));
    EXPECT_EQ(caught<url::ServerSideError>([&] { readSetting(); }).message(),
              L"Cannot GET " + settingUrl() + L": " + kNotGenuine);

    server.addFault(FaultRule::of(FaultKind::AlterServiceHeader, "GET", "/rest/setting"));
    const auto altered = caught<url::ServerSideError>([&] { readSetting(); });
    EXPECT_EQ(altered.code, std::error_code(503, url::httpCategory()));

    auto missingOn404 = FaultRule::status_("GET", "/rest/setting", 404, "");
    missingOn404.dropServiceHeader = true;
    server.addFault(missingOn404);
    EXPECT_EQ(caught<url::ServerSideError>([&] { readSetting(); }).code, std::error_code(503, url::httpCategory()));

    api.setCheckForGenuineServer(false);
    server.addFault(FaultRule::of(FaultKind::OmitServiceHeader, "GET", "/rest/setting"));
    EXPECT_EQ(api.getUploadSpeedLimit(), 0u);
}

TEST_F(FrameTest, GenuineCheckReplacesErrorsButNotAuthenticationFailures)
{
    auto omitted = FaultRule::of(FaultKind::OmitServiceHeader, "GET", "/rest/users");
    omitted.times = -1;
    server.addFault(omitted);
    api.setCredentials(qcl::string::utf8ToUtf16(apitest::kEmail), L"wrong");
    caught<url::HttpAuthenticationError>([&] { api.getUserId(); });

    api.setCredentials(qcl::string::utf8ToUtf16(apitest::kOtherEmail), L"other");
    api.setServerUrl(server.baseUrl() + "/rest");
    caught<url::ServerSideError>([&] { api.getUserId(); });

    api.setCheckForGenuineServer(false);
    EXPECT_EQ(api.getUserId(), id(server.userId(apitest::kOtherEmail)));
}

TEST_F(FrameTest, HeaderNamesInLowerCaseStillCount)
{
    auto lower = FaultRule::of(FaultKind::LowerCaseHeaderNames, "", ".*");
    lower.times = -1;
    server.addFault(lower);
    const auto share = api.createShare(L"S", true);
    api.createFolder(L"F", share);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[1].header("CSRFToken").empty());
}

TEST_F(FrameTest, TheCsrfTokenIsSentBackUntilTheCredentialsChange)
{
    readSetting();
    readSetting();
    const auto share = api.createShare(L"S", true);
    api.removeShare(share.first);
    auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_FALSE(requests[0].hasHeader("CSRFToken"));
    const std::string token = requests[1].header("CSRFToken");
    EXPECT_EQ(token.size(), 32u);  // the cookie's attributes are not part of it
    for (std::size_t i = 1; i < requests.size(); ++i)
    {
        EXPECT_EQ(requests[i].header("CSRFToken"), token) << i;
        EXPECT_NE(requests[i].header("Cookie").find("CSRFToken=" + token), std::string::npos) << i;
    }

    api.setCredentials(qcl::string::utf8ToUtf16(apitest::kEmail), qcl::string::utf8ToUtf16(apitest::kPassword));
    readSetting();
    readSetting();
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].hasHeader("CSRFToken"));
    EXPECT_FALSE(requests[0].hasHeader("Cookie"));
    EXPECT_NE(requests[1].header("CSRFToken"), token);
}

// A fault of the server, which the engine waits out like an answer with a 5xx status.
TEST_F(FrameTest, AMalformedAnswerIsAServerSideErrorThatNamesTheRequest)
{
    for (const std::string body : {R"({"uuid":"0123-4567-89ab-cdef-fedc-ba98-7654-3210","size":1.5})",
                                   R"({"uuid":"0123-4567-89ab-cdef-fedc-ba98-7654-321-"})", R"({"uuid":5})", "[]"})
    {
        auto malformed = FaultRule::of(FaultKind::Body, "GET", "/rest/users");
        malformed.body = body;
        server.addFault(malformed);
        const url::ServerSideError error = caught<dwl::InconsistentServerResponse>([&] { api.getUserId(); });
        EXPECT_EQ(error.code, std::error_code(502, url::httpCategory()));
        EXPECT_EQ(error.message().rfind(L"Cannot GET " + qcl::string::utf8ToUtf16(server.baseUrl()), 0), 0u) << body;
    }
    EXPECT_EQ(api.getUserId(), id(server.userId(apitest::kEmail)));  // nothing was cached
}

TEST_F(FrameTest, CutAnswersAndUnreachableServersAreNetworkErrors)
{
    server.addFault(FaultRule::of(FaultKind::ShortBody, "GET", "/rest/setting"));
    caught<url::NetworkError>([&] { readSetting(); });
    server.addFault(FaultRule::of(FaultKind::DropConnection, "GET", "/rest/setting"));
    caught<url::NetworkError>([&] { readSetting(); });
    readSetting();

    api.setServerUrl("http://127.0.0.1:1/rest");
    const auto error = caught<url::NetworkError>([&] { api.getUserId(); });
    EXPECT_EQ(error.message().rfind(L"Cannot GET http://127.0.0.1:1/rest/users?emailAddress=", 0), 0u);
}

// The server acts on a request that came on a kept-alive connection, and the connection dies before any byte of
// the answer: libcurl would send the request again on a new connection and make the item twice.
TEST_F(FrameTest, AChangeWhoseAnswerIsLostOnAKeptConnectionIsSentOnceAndFailsAsANetworkError)
{
    const auto share = api.createShare(L"S", true);
    const auto loseNext = [&](const std::string& path)
    {
        readSetting(); // the connection is alive and kept
        server.addFault(FaultRule::of(FaultKind::AnswerLost, "POST", path));
    };
    loseNext("/rest/shares");
    caught<url::NetworkError>([&] { api.createShare(L"Lost share", true); });
    loseNext("/rest/shares/.*/assets");
    caught<url::NetworkError>([&] { api.createFolder(L"Lost folder", share); });
    loseNext("/rest/shares/.*/assets");
    caught<url::NetworkError>([&] { api.createDocument(L"lost.txt", share); });

    EXPECT_EQ(api.getShares().size(), 2u);
    std::vector<std::string> names;
    for (const auto& child : server.children(share.second.str()))
        names.push_back(child.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Lost folder", "lost"}));
    // Each sent once, the three lost ones on a kept connection.
    std::vector<bool> reused;
    for (const auto& request : takeRequests())
        if (request.method == "POST")
            reused.push_back(request.reusedConnection);
    EXPECT_EQ(reused, (std::vector<bool>{false, true, true, true}));
}

TEST_F(FrameTest, AnAnswerBeyondItsBoundIsANetworkError)
{
    auto padded = FaultRule::of(FaultKind::Body, "GET", "/rest/users");
    padded.body = R"({"uuid":")" + server.userId(apitest::kEmail) + R"(","padding":")" + std::string(2000, ' ') + "\"}";
    server.addFault(padded);
    api.setMaximumAnswerSize(1000);
    caught<url::NetworkError>([&] { api.getUserId(); });
    EXPECT_EQ(api.getUserId(), id(server.userId(apitest::kEmail)));
}

TEST(FrameTls, CertificateCheckingRefusesASelfSignedServerAndCanBeTurnedOff)
{
    const fake::TestCertificate certificate;
    fake::FakeWayfoldServer server({{}, certificate.certificateFile(), certificate.privateKeyFile()});
    server.start();
    server.addUser(apitest::kEmail, apitest::kPassword);
    dwl::WayfoldApi api;
    api.setServerUrl(server.baseUrl() + "/rest");
    api.setCredentials(qcl::string::utf8ToUtf16(apitest::kEmail), qcl::string::utf8ToUtf16(apitest::kPassword));
    api.setCheckForGenuineServer(true);

    const auto untrusted = caught<url::Error>([&] { api.getUserId(); });
    EXPECT_EQ(untrusted.code, std::error_code(60, url::curlCategory()));
    EXPECT_THROW(
        {
            try
            {
                api.getUserId();
            }
            catch (const url::NetworkError&)
            {
                ADD_FAILURE() << "an untrusted certificate must not look like a lost server";
            }
        },
        url::Error);

    api.session().setOption(CURLOPT_SSL_VERIFYPEER, 0L);
    EXPECT_EQ(api.getUserId(), qcl::uint128::parse(server.userId(apitest::kEmail)));
    EXPECT_EQ(server.violations(), std::vector<std::string>());
}
} // namespace
