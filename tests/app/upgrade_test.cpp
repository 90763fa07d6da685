#include "app/InstallerFileName.h"
#include "app/UpgradeChecker.h"
#include "app/UpgradeDownloader.h"
#include "app/Version.h"
#include "json_spirit/Reader.h"
#include "qcl/String.h"

#include "support/FakeWayfoldServer.h"
#include "support/ScratchFolder.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using fake::FaultKind;
using fake::FaultRule;

TEST(VersionTest, ReadsThreeNumbersAndComparesMajorFirst)
{
    const dwl::Version running{1, 13, 0};
    const struct
    {
        const char* json;
        bool newer;
    } offers[] = {{"[1,13,0]", false},
                  {"[1,13,1]", true},
                  {"[2,0,0]", true},
                  {"[1,12,99]", false},
                  {"[1,14,0,5]", true}};
    for (const auto& offer : offers)
        EXPECT_EQ(running < dwl::Version::fromJson(json_spirit::parse(offer.json)), offer.newer)
            << offer.json;

    EXPECT_EQ(dwl::Version::fromJson(json_spirit::parse("[1,14,0,5]")).toString(), "1.14.0");
    for (const char* malformed : {"[1,14]", "\"1.14.0\"", "[1,-1,0]", "[1,4294967296,0]", "[1,\"2\",3]"})
        EXPECT_THROW(dwl::Version::fromJson(json_spirit::parse(malformed)), std::runtime_error) << malformed;
}

class UpgradeTest : public testing::Test
{
protected:
    UpgradeTest()
    {
        server.start();
        ::setenv("XDG_CACHE_HOME", (scratch / "cache").c_str(), 1);
    }

    std::string upgradeInfoUrl() const { return server.baseUrl() + "/upgrade/info"; }
    std::string installerUrl() const { return server.baseUrl() + "/upgrade/installer"; }
    std::size_t requestCount(const std::string& path) const { return server.requests(path).size(); }

    // What the cache folder holds: the downloads' folders.
    std::vector<std::filesystem::path> cacheEntries() const
    {
        std::vector<std::filesystem::path> entries;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(scratch / "cache", ignored))
            entries.push_back(entry.path());
        return entries;
    }

    test::ScratchFolder scratch;
    fake::FakeWayfoldServer server;
};

// The checker with a handler that records the offers it reports.
class CheckerTest : public UpgradeTest
{
protected:
    CheckerTest()
    {
        checker.setCurrentVersion({1, 13, 0});
        checker.setUpgradeInfoUrl(upgradeInfoUrl());
        checker.setNewVersionHandler(
            [this](const dwl::Version& version, const std::string& url)
            {
                std::lock_guard lock(mutex);
                offers.push_back(version.toString() + " " + url);
            });
    }

    std::size_t offerCount()
    {
        std::lock_guard lock(mutex);
        return offers.size();
    }

    std::mutex mutex;
    std::vector<std::string> offers;
    dwl::UpgradeChecker checker;
};

TEST_F(CheckerTest, ReportsANewerVersionOnceWithoutPollingAndCanBeStartedAgain)
{
    server.setUpgrade({1, 14, 0}, "installer");
    for (int run = 1; run <= 2; ++run)
    {
        checker.start();
        ASSERT_TRUE(test::waitUntil([&] { return !checker.isRunning(); }));
        ASSERT_EQ(offerCount(), std::size_t(run));
    }
    EXPECT_EQ(offers[0], "1.14.0 " + installerUrl());
    EXPECT_EQ(checker.exception(), nullptr);
}

TEST_F(CheckerTest, NoOfferForTheRunningVersionAndNoCheckWithoutAnAddress)
{
    server.setUpgrade({1, 13, 0}, "installer");
    checker.start();
    ASSERT_TRUE(test::waitUntil([&] { return !checker.isRunning(); }));
    EXPECT_EQ(requestCount("/upgrade/info"), 1u);

    checker.setUpgradeInfoUrl("");
    checker.start();
    ASSERT_TRUE(test::waitUntil([&] { return !checker.isRunning(); }));
    EXPECT_EQ(requestCount("/upgrade/info"), 1u);
    EXPECT_EQ(offerCount(), 0u);
}

TEST_F(CheckerTest, AFailedCheckIsRetriedAfterTheRetryInterval)
{
    server.setUpgrade({1, 14, 0}, "installer");
    server.addFault(FaultRule::status_("GET", "/upgrade/info", 500));
    FaultRule noUrl = FaultRule::of(FaultKind::Body, "GET", "/upgrade/info");
    noUrl.body = R"({"version":[1,14,0]})";
    server.addFault(noUrl);
    checker.setRetryInterval(10ms);
    checker.start();
    ASSERT_TRUE(test::waitUntil([&] { return !checker.isRunning(); }));
    EXPECT_EQ(requestCount("/upgrade/info"), 3u);
    EXPECT_EQ(offerCount(), 1u);
}

TEST_F(CheckerTest, PollsUntilStoppedAndAStopEndsTheFirstDelay)
{
    server.setUpgrade({1, 14, 0}, "installer");
    checker.setPollingInterval(10ms);
    checker.start();
    ASSERT_TRUE(test::waitUntil([&] { return offerCount() >= 3; }));
    checker.stop();
    EXPECT_FALSE(checker.isRunning());

    server.clearRequests();
    checker.setDelayBeforeCheck(1h);
    checker.start();
    checker.stop();
    EXPECT_EQ(requestCount("/upgrade/info"), 0u);
}

// The downloader with a listener that records its reports.
class DownloaderTest : public UpgradeTest, public dwl::UpgradeDownloader::Callback
{
protected:
    DownloaderTest()
    {
        downloader.setCallback(this);
        downloader.setInstallerFileName(L"Wayfold installer.msi");
        downloader.setUrl(installerUrl());
    }

    void onUpgradeDownloadProgress(int percent) override { record("progress " + std::to_string(percent)); }
    void onUpgradeDownloadFinished(const std::wstring& path) override
    {
        installer = qcl::string::utf16ToUtf8(path);
        record("finished");
    }
    void onUpgradeDownloadFailed(const std::wstring&) override { record("failed"); }

    void record(const std::string& report)
    {
        std::lock_guard lock(mutex);
        reports.push_back(report);
    }

    // Downloads and returns the last report.
    std::string download()
    {
        downloader.start();
        EXPECT_TRUE(test::waitUntil([&] { return !downloader.isRunning(); }));
        std::lock_guard lock(mutex);
        return reports.empty() ? "" : reports.back();
    }

    std::mutex mutex;
    std::vector<std::string> reports;
    std::string installer;
    dwl::UpgradeDownloader downloader;
};

TEST_F(DownloaderTest, StoresTheInstallerInAPrivateFolderReportingEachWholePercentOnce)
{
    const std::string bytes(3 << 20, 'i');
    server.setUpgrade({1, 14, 0}, bytes);
    server.addFault(
        [&]
        {
            FaultRule redirect = FaultRule::status_("GET", "/upgrade/installer", 302);
            redirect.location = installerUrl() + "?moved";
            return redirect;
        }());
    ASSERT_EQ(download(), "finished");
    EXPECT_EQ(requestCount("/upgrade/installer"), 2u);

    std::ifstream file(installer, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), bytes);
    const std::filesystem::path folder = std::filesystem::path(installer).parent_path();
    EXPECT_EQ(folder.parent_path(), scratch / "cache");
    EXPECT_EQ(std::filesystem::path(installer).filename(), "installer"); // the address's last segment
    struct stat status = {};
    ASSERT_EQ(::stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(installer.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0111, 0u) << "never executable";

    int last = -1;
    for (std::size_t i = 0; i + 1 < reports.size(); ++i)
    {
        const int percent = std::stoi(reports[i].substr(std::string("progress ").size()));
        EXPECT_GT(percent, last);
        last = percent;
    }
    EXPECT_EQ(last, 100);
}

TEST(InstallerFileName, IsTheAddressesLastSegmentWhenThatIsAPlainFileName)
{
    const std::wstring fallback = L"Quillmere Wayfold For Windows.msi";
    const std::vector<std::pair<std::string, std::wstring>> table = {
        {"https://h.example/files/wayfold_1.14.0_amd64.deb", L"wayfold_1.14.0_amd64.deb"},
        {"http://h.example:8080/get/wayfold-1.14.0.tar.gz?token=a/b#top", L"wayfold-1.14.0.tar.gz"},
        {"http://h.example/files/", fallback},
        {"http://h.example", fallback},
        {"http://h.example/files/.profile", fallback},
        {"http://h.example/files/..", fallback},
        {"http://h.example/files/set%20up.deb", fallback},
        {"http://h.example/files/" + std::string(256, 'a'), fallback},
        {"wayfold.deb", fallback},
    };
    for (const auto& [url, name] : table)
        EXPECT_EQ(dwl::installerFileName(url, fallback), name) << url;
}

TEST_F(DownloaderTest, AnythingButACompleteFinal2xxAnswerFailsAndLeavesNothing)
{
    server.setUpgrade({1, 14, 0}, std::string(100000, 'i'));
    FaultRule toFtp = FaultRule::status_("GET", "/upgrade/installer", 302);
    toFtp.location = "ftp://127.0.0.1/installer";
    FaultRule noLocation = FaultRule::status_("GET", "/upgrade/installer", 302);
    const struct
    {
        const char* name;
        FaultRule fault;
        std::string url;
    } cases[] = {
        {"redirect to another scheme", toFtp, installerUrl()},
        {"3xx without a place to go", noLocation, installerUrl()},
        {"404", FaultRule::status_("GET", "/upgrade/installer", 404), installerUrl()},
        {"503", FaultRule::status_("GET", "/upgrade/installer", 503), installerUrl()},
        {"short body", FaultRule::of(FaultKind::ShortBody, "GET", "/upgrade/installer"), installerUrl()},
        {"other scheme", FaultRule::status_("GET", "/none", 500), "file:///etc/passwd"},
    };
    for (const auto& failure : cases)
    {
        server.clearFaults();
        server.addFault(failure.fault);
        downloader.setUrl(failure.url);
        EXPECT_EQ(download(), "failed") << failure.name;
        EXPECT_EQ(cacheEntries(), std::vector<std::filesystem::path>()) << failure.name;
    }
}

TEST_F(DownloaderTest, WaitAbortsATransferInProgress)
{
    server.setUpgrade({1, 14, 0}, "installer");
    server.addFault(FaultRule::of(FaultKind::Stall, "GET", "/upgrade/installer"));
    downloader.start();
    ASSERT_TRUE(server.waitForStalled(1));
    downloader.wait();
    server.releaseStalls();
    EXPECT_FALSE(downloader.isRunning());
    EXPECT_EQ(reports, std::vector<std::string>{"failed"});
    EXPECT_EQ(cacheEntries(), std::vector<std::filesystem::path>());
}
} // namespace
