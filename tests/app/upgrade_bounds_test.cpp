// What a hostile upgrade server can make the checker and the downloader do: nothing beyond a failed attempt.

#include "app/UpgradeChecker.h"
#include "app/UpgradeDownloader.h"
#include "qcl/String.h"

#include "support/HostileServer.h"
#include "support/ScratchFolder.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using test::HostileAnswer;
using test::HostileServer;

const std::string kOffer = R"({"version":[1,14,0],"url":"http://127.0.0.1:1/installer"})";

TEST(UpgradeCheckerBounds, AHugeOrTrickledAnswerIsAFailedCheckThatIsRetried)
{
    HostileServer server;
    server.answer("/huge", HostileAnswer::bytes(R"({"version":[1,14,0],"url":"x","padding":")" +
                                                std::string(100000, ' ') + "\"}"));
    server.answer("/trickle", HostileAnswer::trickle(kOffer, 2, 100ms));
    for (const char* path : {"/huge", "/trickle"})
    {
        SCOPED_TRACE(path);
        std::mutex mutex;
        std::vector<std::string> offers;
        dwl::UpgradeChecker checker;
        checker.setCurrentVersion({1, 13, 0});
        checker.setUpgradeInfoUrl(server.url(path));
        checker.setRetryInterval(10ms);
        checker.setNewVersionHandler(
            [&](const dwl::Version& version, const std::string&)
            {
                std::lock_guard lock(mutex);
                offers.push_back(version.toString());
            });
        checker.session().setOption(CURLOPT_LOW_SPEED_TIME, 1L); // the speed is the session's own
        checker.start();
        EXPECT_TRUE(test::waitUntil([&] { return server.requestCount(path) >= 2; }, 15s));
        checker.stop();
        EXPECT_EQ(checker.exception(), nullptr);
        EXPECT_EQ(offers, std::vector<std::string>());
    }
}

TEST(UpgradeCheckerBounds, AnHttpsAnswerThatNamesAPlainInstallerIsAFailedCheck)
{
    HostileServer tls{HostileServer::Scheme::Https};
    tls.answer("/plain", HostileAnswer::bytes(kOffer));
    tls.answer("/tls", HostileAnswer::bytes(R"({"version":[1,14,0],"url":"HTTPS://h.example/installer"})"));
    for (const auto& [path, expected] : {std::pair{"/plain", 0u}, std::pair{"/tls", 1u}})
    {
        std::size_t offers = 0;
        dwl::UpgradeChecker checker;
        checker.setCurrentVersion({1, 13, 0});
        checker.setUpgradeInfoUrl(tls.url(path));
        checker.setNewVersionHandler([&](const dwl::Version&, const std::string&) { ++offers; });
        checker.session().setOption(CURLOPT_SSL_VERIFYPEER, 0L);
        checker.start();
        EXPECT_TRUE(test::waitUntil([&] { return !checker.isRunning(); }, 15s));
        EXPECT_EQ(offers, expected) << path;
    }
}

class UpgradeDownloaderBounds : public testing::Test, public dwl::UpgradeDownloader::Callback
{
protected:
    UpgradeDownloaderBounds()
    {
        ::setenv("XDG_CACHE_HOME", (scratch / "cache").c_str(), 1);
        downloader.setCallback(this);
        downloader.setInstallerFileName(L"installer.msi");
        downloader.session().setOption(CURLOPT_SSL_VERIFYPEER, 0L);
        downloader.session().setOption(CURLOPT_LOW_SPEED_TIME, 1L);
    }

    void onUpgradeDownloadProgress(int) override {}
    void onUpgradeDownloadFinished(const std::wstring&) override { record("finished"); }
    void onUpgradeDownloadFailed(const std::wstring& reason) override
    {
        record("failed");
        std::lock_guard lock(mutex);
        lastReason = reason;
    }
    void record(const std::string& report)
    {
        std::lock_guard lock(mutex);
        reports.push_back(report);
    }

    // Downloads from the address and returns the report.
    std::string download(const std::string& url)
    {
        {
            std::lock_guard lock(mutex);
            reports.clear();
        }
        downloader.setUrl(url);
        downloader.start();
        EXPECT_TRUE(test::waitUntil([&] { return !downloader.isRunning(); }));
        std::lock_guard lock(mutex);
        return reports.empty() ? "" : reports.back();
    }

    bool cacheIsEmpty() const
    {
        std::error_code ignored;
        return std::filesystem::directory_iterator(scratch / "cache", ignored) ==
               std::filesystem::directory_iterator();
    }

    test::ScratchFolder scratch;
    HostileServer plain;
    HostileServer tls{HostileServer::Scheme::Https};
    std::mutex mutex;
    std::vector<std::string> reports;
    std::wstring lastReason;
    dwl::UpgradeDownloader downloader;
};

TEST_F(UpgradeDownloaderBounds, OnlyA200WhoseEndIsCertainIsAnInstaller)
{
    const std::string installer(100000, 'i');
    plain.answer("/installer", HostileAnswer::bytes(installer));
    plain.answer("/chunked", HostileAnswer::bytes(installer, HostileAnswer::Length::Chunked));
    plain.answer("/chunked-cut", HostileAnswer::bytes(installer, HostileAnswer::Length::ChunkedCut));
    plain.answer("/no-length", HostileAnswer::bytes(installer, HostileAnswer::Length::None));
    plain.answer("/no-content", HostileAnswer::withStatus(204));
    plain.answer("/empty", HostileAnswer::bytes("", HostileAnswer::Length::Announced));
    plain.answer("/trickle", HostileAnswer::trickle(installer.substr(0, 40), 2, 100ms));
    tls.answer("/to-http", HostileAnswer::redirect(plain.url("/installer")));
    tls.answer("/installer", HostileAnswer::bytes(installer));
    tls.answer("/to-https", HostileAnswer::redirect(tls.url("/installer")));

    EXPECT_EQ(download(plain.url("/installer")), "finished");
    EXPECT_EQ(download(plain.url("/chunked")), "finished");
    EXPECT_EQ(download(tls.url("/to-https")), "finished");
    std::string upperCase = tls.url("/installer");
    upperCase.replace(0, 5, "HTTPS");
    EXPECT_EQ(download(upperCase), "finished");
    std::filesystem::remove_all(scratch / "cache");
    // The user is told the reason in plain words; what libcurl says goes to the log.
    const std::wstring lost = L"The connection to the server was lost.";
    const std::wstring refused = L"The server refused to send the update.";
    for (const auto& [url, reason] : std::vector<std::pair<std::string, std::wstring>>{
             {plain.url("/chunked-cut"), lost},
             {plain.url("/trickle"), lost},
             {plain.url("/no-length"), refused},
             {plain.url("/no-content"), refused},
             {plain.url("/empty"), refused},
             {plain.url("/missing"), refused},
             {tls.url("/to-http"), L"The address of the update is not an https address."},
             {"ftp://127.0.0.1/installer", L"The address of the update is not an https address."},
             {"http://127.0.0.1:1/installer", L"The server could not be reached."}})
    {
        EXPECT_EQ(download(url), "failed") << url;
        EXPECT_EQ(lastReason, reason) << url;
        EXPECT_TRUE(cacheIsEmpty()) << url;
    }
    EXPECT_EQ(plain.requestCount("/installer"), 1u); // never reached from https
}

TEST_F(UpgradeDownloaderBounds, AHugeAnnouncedLengthIsRefusedBeforeTheBody)
{
    const std::size_t sent = 32 << 20;
    plain.answer("/huge", HostileAnswer::announcing(1000000000000000, std::string(sent, 'i')));
    EXPECT_EQ(download(plain.url("/huge")), "failed");
    EXPECT_EQ(lastReason, L"The update is larger than 512 MiB.");
    EXPECT_TRUE(cacheIsEmpty());
    EXPECT_LT(plain.bytesSent(), sent / 4); // what the sockets' buffers took at most
}

TEST_F(UpgradeDownloaderBounds, ACacheFolderThatOthersMayWriteIsNotUsed)
{
    plain.answer("/installer", HostileAnswer::bytes("installer"));
    std::filesystem::create_directories(scratch / "cache");
    std::filesystem::permissions(scratch / "cache", std::filesystem::perms::all);
    EXPECT_EQ(download(plain.url("/installer")), "failed");
    EXPECT_EQ(lastReason, L"Cannot use folder '" + qcl::string::utf8ToUtf16(scratch / "cache") +
                              L"': others may write to it");
    EXPECT_TRUE(cacheIsEmpty());
    EXPECT_EQ(plain.requestCount("/installer"), 0u);
}

} // namespace
