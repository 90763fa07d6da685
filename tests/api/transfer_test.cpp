// Content transfers: uploads, downloads, speed limits, aborts and the size limit.

#include "ApiTestSupport.h"

#include "qcl/File.h"
#include "url/Error.h"

#include <chrono>
#include <future>

namespace
{
using apitest::ApiTest;
using apitest::TemporaryFile;
using fake::FaultKind;
using fake::FaultRule;

class TransferTest : public ApiTest
{
protected:
    TransferTest() : share(api.createShare(L"S", true)), document{share.first, api.createDocument(L"d.bin", share)}
    {
        takeRequests();
    }

    std::string documentPath() const
    {
        return "/rest/shares/" + document.first.str() + "/assets/" + document.second.str();
    }

    dwl::IdPair share;
    dwl::IdPair document;
};

TEST_F(TransferTest, UploadsSendTheWholeFileAsTheNextVersion)
{
    const TemporaryFile file("hello, world");
    char skipped[5];
    qcl::File::read(file.handle(), skipped, sizeof skipped);  // the upload starts from the beginning anyway
    EXPECT_EQ(api.uploadContent(document, file.handle()), 1u);
    EXPECT_EQ(server.content(document.second.str(), 1), "hello, world");

    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/rest/setting");
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_EQ(requests[1].target, documentPath());
    EXPECT_EQ(requests[1].header("Accept"), "application/hal+json");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[2].target, documentPath() + "/contents");
    EXPECT_EQ(requests[2].header("Accept"), "*/*");
    EXPECT_EQ(requests[2].header("Accept-Charset"), "utf-8");
    EXPECT_EQ(requests[2].header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
    EXPECT_EQ(requests[2].uploadedFileName, "*");
    EXPECT_EQ(requests[2].uploadedContentType, "application/octet-stream");
    EXPECT_EQ(requests[2].uploadedBytes, 12u);

    EXPECT_EQ(api.uploadContent(document, file.handle()), 2u);
    auto seven = FaultRule::of(FaultKind::Body, "GET", documentPath());
    seven.body = R"({"contentVersion":7})";
    server.addFault(seven);
    EXPECT_EQ(api.uploadContent(document, file.handle()), 8u);
}

TEST_F(TransferTest, AnUploadWhoseAnswerIsLostIsTakenWhenTheServerHoldsItAndNeverSentTwice)
{
    const TemporaryFile file("hello, world");
    server.addFault(FaultRule::of(FaultKind::AnswerLost, "POST", documentPath() + "/contents"));
    EXPECT_EQ(api.uploadContent(document, file.handle()), 1u);
    EXPECT_EQ(server.asset(document.second.str())->contentVersion, 1u);
    EXPECT_EQ(server.content(document.second.str(), 1), "hello, world");

    // Closed before the server acted: nothing stored, and the failure is the caller's to retry.
    server.addFault(FaultRule::of(FaultKind::CloseConnection, "POST", documentPath() + "/contents"));
    EXPECT_THROW(api.uploadContent(document, file.handle()), url::NetworkError);
    EXPECT_EQ(server.asset(document.second.str())->contentVersion, 1u);
    std::size_t posts = 0;
    for (const auto& request : takeRequests())
        posts += request.method == "POST";
    EXPECT_EQ(posts, 2u);
}

TEST_F(TransferTest, DownloadsWriteTheLatestContent)
{
    server.putContent(document.second.str(), "first");
    server.putContent(document.second.str(), "second version");
    const TemporaryFile file;
    api.downloadContent(document, file.handle());
    EXPECT_EQ(file.content(), "second version");

    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/rest/setting");
    EXPECT_EQ(requests[1].target, documentPath() + "/contents/latest");
    EXPECT_EQ(requests[1].header("Accept"), "*/*");
    EXPECT_FALSE(requests[1].hasHeader("Accept-Charset"));
}

TEST_F(TransferTest, ACutDownloadIsANetworkError)
{
    server.putContent(document.second.str(), std::string(100000, 'x'));
    server.addFault(FaultRule::of(FaultKind::ShortBody, "GET", documentPath() + "/contents/latest"));
    const TemporaryFile file;
    EXPECT_THROW(api.downloadContent(document, file.handle()), url::NetworkError);
    EXPECT_LT(file.content().size(), 100000u);
}

TEST_F(TransferTest, AFileThatCannotBeWrittenFailsTheDownloadWithItsOwnError)
{
    server.putContent(document.second.str(), "content");
    const TemporaryFile file;
    const qcl::Handle readOnly = qcl::file::open(qcl::string::utf8ToUtf16(file.path().string()), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL);
    EXPECT_THROW(api.downloadContent(document, readOnly.get()), qcl::SystemError);
    EXPECT_EQ(api.getUploadSpeedLimit(), 0u);  // the session is ready for the next request
}

TEST_F(TransferTest, AFailedSettingRequestStopsTheTransferBeforeItStarts)
{
    server.addFault(FaultRule::status_("GET", "/rest/setting", 500));
    const TemporaryFile file("data");
    EXPECT_THROW(api.uploadContent(document, file.handle()), url::ServerSideError);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/rest/setting");
}

TEST_F(TransferTest, AStalledDownloadIsAbortedFromAnotherThread)
{
    server.putContent(document.second.str(), "content");
    server.addFault(FaultRule::of(FaultKind::Stall, "GET", documentPath() + "/contents/latest"));
    const TemporaryFile file;
    auto download = std::async(std::launch::async, [&] { api.downloadContent(document, file.handle()); });
    ASSERT_TRUE(server.waitForStalled(1));
    api.setMustCloseSocket(true);
    try
    {
        download.get();
        FAIL() << "the stalled download returned";
    }
    catch (const url::NetworkError& e)
    {
        EXPECT_EQ(e.message().rfind(L"Cannot GET " + qcl::string::utf8ToUtf16(server.baseUrl()), 0), 0u);
    }
    server.releaseStalls();
    api.setMustCloseSocket(false);
    api.downloadContent(document, file.handle());
    EXPECT_EQ(file.content(), "content");
}

TEST_F(TransferTest, TheServersSpeedLimitThrottlesDownloads)
{
    constexpr std::size_t size = 3 * 1024 * 1024;
    server.putContent(document.second.str(), std::string(size, 'x'));
    server.setSetting("client.throttle-suggestion.download-rate", "1024");
    EXPECT_EQ(api.getDownloadSpeedLimit(), 1024u);
    const TemporaryFile file;
    const auto start = std::chrono::steady_clock::now();
    api.downloadContent(document, file.handle());
    // 3 MiB at 1 MiB/s takes about 3 s. The library reads whatever already waits in the socket (up to 100 reads,
    // about 1.6 MB) before it checks the rate, so only 1 s is certain; unthrottled it takes milliseconds.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(file.content().size(), size);
}

TEST_F(TransferTest, FilesOfTwoGibibytesAreRefusedBeforeTheUpload)
{
    const TemporaryFile file;
    std::filesystem::resize_file(file.path(), 2147483648ull);
    EXPECT_THROW(api.uploadContent(document, file.handle()), url::FileTooBig);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, "GET");
    // The session is clean for the next request.
    EXPECT_EQ(api.getUploadSpeedLimit(), 0u);
}
} // namespace
