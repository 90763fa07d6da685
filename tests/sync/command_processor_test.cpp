// The command processor's cycle against a recording stand-in for the REST client.

#include "EngineHarness.h"
#include "tests/support/ScratchFolder.h"

#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "qcl/File.h"
#include "sync/CommandProcessor.h"
#include "sync/CommandProcessorFiles.h"
#include "url/Error.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <stdexcept>

namespace
{
using enginetest::waitUntil;
using namespace std::chrono_literals;

// Answers what a test scripts and records every call by name; anything unscripted fails the call.
class RecordingApi : public dwl::IWayfoldApi
{
public:
    std::vector<std::string> calls() const
    {
        std::lock_guard lock(mMutex);
        return mCalls;
    }
    bool called(const std::string& name) const
    {
        const auto all = calls();
        return std::find(all.begin(), all.end(), name) != all.end();
    }

    std::function<qcl::uint128()> onRegisterDevice = [] { return qcl::uint128::fromHalves(0, 7); };
    std::function<std::optional<ServerMessage>(std::uint64_t)> onGetServerMessage = [](std::uint64_t)
    { return std::optional<ServerMessage>(); };
    std::vector<Share> shares;
    bool acceptRenames = false;

    void setMustCloseSocket(bool) override {}
    qcl::uint128 getUserId() override { return record("getUserId"), qcl::uint128::fromHalves(0, 1); }
    qcl::uint128 registerDevice() override { return record("registerDevice"), onRegisterDevice(); }
    void unregisterDevice(qcl::uint128) override { record("unregisterDevice"); }
    dwl::IdPair createShare(const std::wstring& name, bool) override
    {
        record("createShare " + qcl::string::utf16ToUtf8(name));
        ++mNextId;
        return {qcl::uint128::fromHalves(1, mNextId), qcl::uint128::fromHalves(2, mNextId)};
    }
    void removeShare(const qcl::uint128&) override { unexpected("removeShare"); }
    qcl::uint128 createFolder(const std::wstring&, const dwl::IdPair&) override
    {
        unexpected("createFolder");
    }
    qcl::uint128 createDocument(const std::wstring&, const dwl::IdPair&) override
    {
        unexpected("createDocument");
    }
    std::uint64_t uploadContent(const dwl::IdPair&, HANDLE) override { unexpected("uploadContent"); }
    void downloadContent(const dwl::IdPair&, HANDLE) override { unexpected("downloadContent"); }
    void renameDocument(const dwl::IdPair&, const std::wstring& name) override
    {
        if (!acceptRenames)
            unexpected("renameDocument");
        record("renameDocument " + qcl::string::utf16ToUtf8(name));
    }
    void renameFolder(const dwl::IdPair&, const std::wstring&) override { unexpected("renameFolder"); }
    void moveAsset(const dwl::IdPair&, const qcl::uint128&) override { unexpected("moveAsset"); }
    void removeAsset(const dwl::IdPair&) override { unexpected("removeAsset"); }
    std::optional<ServerMessage> getServerMessage(std::uint64_t number) override
    {
        record("getServerMessage");
        return onGetServerMessage(number);
    }
    // Only the Shares and their empty roots are there.
    AssetProperties getAssetProperties(const dwl::IdPair&) override
    {
        record("getAssetProperties");
        throw url::NotFoundError(L"no such asset");
    }
    Share getShareProperties(const qcl::uint128&) override { unexpected("getShareProperties"); }
    std::vector<Share> getShares() override { return record("getShares"), shares; }
    std::vector<Asset> getChildren(const dwl::IdPair&) override
    {
        return record("getChildren"), std::vector<Asset>();
    }

private:
    void record(const std::string& call)
    {
        std::lock_guard lock(mMutex);
        mCalls.push_back(call);
    }
    [[noreturn]] void unexpected(const std::string& call)
    {
        record(call);
        throw std::logic_error("unexpected call: " + call);
    }

    mutable std::mutex mMutex;
    std::vector<std::string> mCalls;
    std::uint64_t mNextId = 0;
};

// Records the reports; startScanner runs a hook so that tests can post snapshots at that moment.
class RecordingCallback : public dwl::CommandProcessor::Callback
{
public:
    enginetest::Reports reports;
    std::function<void()> onStartScanner = [] {};

    void onDeviceRegistered(const qcl::uint128&) override { reports.add("onDeviceRegistered"); }
    void onFileTooBig(const std::wstring& path, std::uint64_t, std::uint64_t) override
    {
        reports.add("onFileTooBig", path);
    }
    void onServerUnavailable(const url::Error&) override { reports.add("onServerUnavailable"); }
    void onServerAvailable() override { reports.add("onServerAvailable"); }
    void setSynchronising(bool) override {}
    void setNextServerMessageNumber(std::uint64_t number) override
    {
        reports.add("setNextServerMessageNumber", std::to_wstring(number));
    }
    void onDocumentDownloaded(const dwl::Tree::File&, const dwl::Tree::Directory&) override {}
    void onDocumentDownloadFailed(const std::wstring&, const std::wstring&, const std::wstring&) override {}
    void onFolderDownloadFailed(const std::wstring&, const std::wstring&, const std::wstring&) override {}
    void onLocalRemovalFailed(const dwl::Tree::Node& node, const dwl::Tree::Directory&,
                              const std::wstring&) override
    {
        reports.add("onLocalRemovalFailed", node.name());
    }
    void onLocalUpdateBlocked(const dwl::Tree::Node&, const dwl::Tree::Directory&,
                              const std::wstring&) override
    {
    }
    void onDocumentCreationFailed(const std::wstring&, const dwl::Tree::Directory&, const std::error_code&,
                                  const std::wstring&) override
    {
    }
    void onFolderCreationFailed(const std::wstring&, const dwl::Tree::Directory&, const std::error_code&,
                                const std::wstring&) override
    {
    }
    void onShareCreationFailed(const std::wstring&, const std::error_code&, const std::wstring&) override {}
    void onDocumentUploadFailed(const dwl::Tree::File&, const dwl::Tree::Directory&, const std::error_code&,
                                const std::wstring&) override
    {
    }
    void onItemUnreadable(const dwl::Tree::Node&, const dwl::Tree::Directory&, const std::wstring&) override {}
    void onOtherName(const dwl::Tree::File&, const dwl::Tree::Directory&, const std::wstring&) override {}
    void onWayfoldFolderMissing(const std::wstring& reason) override { reports.add("onWayfoldFolderMissing", reason); }
    void startScanner() override
    {
        reports.add("startScanner");
        onStartScanner();
    }
    void stopScanner() override { reports.add("stopScanner"); }
};

class CommandProcessorTest : public ::testing::Test
{
protected:
    CommandProcessorTest()
    {
        folder = compat::fileNameToUtf16(scratch.path());
        tree = std::make_unique<dwl::Tree::Directory>(qcl::file::getFileId(folder), folder);
        processor.setTree(*tree);
        processor.setFolder(dwl::PinnedFolder::of(folder));
        processor.setErrorCallback([this](qcl::NamedThread*)
                                   { callback.reports.add("threadError", qcl::currentExceptionMessage()); });
    }

    ~CommandProcessorTest() override { processor.stop(); }

    // A snapshot of the folder holding one (empty) directory per name; local ids are made up.
    std::unique_ptr<dwl::Tree::Directory> snapshotWith(std::initializer_list<const wchar_t*> names)
    {
        auto root = std::make_unique<dwl::Tree::Directory>(tree->localId(), folder);
        for (const wchar_t* name : names)
            root->addChild(std::make_unique<dwl::Tree::Directory>(++mNextLocalId, name));
        return root;
    }

    void stopAndCheck()
    {
        processor.stop();
        EXPECT_EQ(callback.reports.details("threadError"), std::vector<std::wstring>());
        EXPECT_EQ(callback.reports.count("stopScanner"), 1u);
    }

    test::ScratchFolder scratch;
    std::wstring folder;
    std::unique_ptr<dwl::Tree::Directory> tree;
    RecordingApi api;
    RecordingCallback callback;
    dwl::CommandProcessor processor{api, callback};

private:
    std::uint64_t mNextLocalId = 1000;
};

TEST_F(CommandProcessorTest, OfTwoWaitingSnapshotsOnlyTheNewerIsProcessed)
{
    // Both arrive while the thread starts the scanner, before it waits.
    callback.onStartScanner = [&]
    {
        processor.postSnapshot(snapshotWith({L"Older"}));
        processor.postSnapshot(snapshotWith({L"Newer"}));
    };
    processor.start();
    ASSERT_TRUE(waitUntil([&] { return api.called("createShare Newer"); }));
    stopAndCheck();
    EXPECT_EQ(api.calls(), std::vector<std::string>{"createShare Newer"});
}

TEST_F(CommandProcessorTest, TheFirstSnapshotIsSentBeforeTheServerIsAskedForMessages)
{
    processor.setDeviceId(qcl::uint128::fromHalves(0, 7));
    tree->setSynchronised(true);
    processor.setPollingInterval(20ms);
    processor.start();
    ASSERT_TRUE(waitUntil([&] { return callback.reports.count("startScanner") == 1; }));
    processor.postSnapshot(snapshotWith({L"Offline"}));
    ASSERT_TRUE(waitUntil([&] { return api.called("getServerMessage"); }));
    stopAndCheck();
    EXPECT_EQ(api.calls().front(), "createShare Offline");
}

TEST_F(CommandProcessorTest, WithoutASnapshotTheServerIsAskedOnceTheFirstSnapshotWaitIsOver)
{
    processor.setDeviceId(qcl::uint128::fromHalves(0, 7));
    tree->setSynchronised(true);
    processor.setPollingInterval(20ms);
    processor.setFirstSnapshotWait(300ms);
    const auto start = std::chrono::steady_clock::now();
    processor.start();
    ASSERT_TRUE(waitUntil([&] { return api.called("getServerMessage"); }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    stopAndCheck();
}

TEST_F(CommandProcessorTest, ANewDeviceStartsFromMessageZeroAndBringsEveryShareDownAgain)
{
    const std::wstring sharePath = folder + L"/Docs";
    std::filesystem::create_directories(scratch / "Docs");
    auto& share =
        tree->addChild(std::make_unique<dwl::Tree::Directory>(qcl::file::getFileId(sharePath), L"Docs"));
    share.setShareId(qcl::uint128::fromHalves(1, 1));
    share.setAssetId(qcl::uint128::fromHalves(2, 1));
    share.setSynchronised(true);
    tree->setSynchronised(true);
    api.shares = {{qcl::uint128::fromHalves(1, 1), qcl::uint128::fromHalves(2, 1), L"Docs"}};
    processor.setNextServerMessageNumber(42);
    processor.setFirstSnapshotAwaited(false);
    processor.setPollingInterval(20ms);

    processor.start();
    ASSERT_TRUE(waitUntil([&] { return api.called("getServerMessage"); }));
    stopAndCheck();
    EXPECT_EQ(api.calls()[0], "registerDevice");
    EXPECT_TRUE(api.called("getChildren")); // the Share itself, not only the list, was brought down
    EXPECT_EQ(callback.reports.details("setNextServerMessageNumber"), std::vector<std::wstring>{L"0"});
    EXPECT_EQ(processor.deviceId(), qcl::uint128::fromHalves(0, 7));
    EXPECT_TRUE(share.isSynchronised());
    EXPECT_TRUE(tree->isSynchronised());
}

TEST_F(CommandProcessorTest, AServerOutageIsReportedOnceAndItsEndOnce)
{
    processor.setDeviceId(qcl::uint128::fromHalves(0, 7));
    tree->setSynchronised(true);
    processor.setFirstSnapshotAwaited(false);
    processor.setPollingInterval(5ms);
    std::atomic<int> failures{0};
    api.onGetServerMessage = [&](std::uint64_t) -> std::optional<dwl::IWayfoldApi::ServerMessage>
    {
        if (++failures <= 5)
            throw url::NetworkError(7, L"Cannot GET messages");
        return std::nullopt;
    };
    processor.start();
    ASSERT_TRUE(waitUntil([&] { return failures > 6; }));
    stopAndCheck();
    EXPECT_EQ(callback.reports.count("onServerUnavailable"), 1u);
    EXPECT_EQ(callback.reports.count("onServerAvailable"), 1u);
}

TEST_F(CommandProcessorTest, ADuplicatedLocalIdDropsTheNodeWhoseItemIsGoneAndKeepsTheThreadRunning)
{
    std::filesystem::create_directories(scratch / "Docs");
    const std::string real = scratch.writeFile("Docs/real.txt", "real");
    const std::uint64_t realId = qcl::file::getFileId(compat::fileNameToUtf16(real));
    auto& share = tree->addChild(
        std::make_unique<dwl::Tree::Directory>(qcl::file::getFileId(folder + L"/Docs"), L"Docs"));
    share.setShareId(qcl::uint128::fromHalves(1, 1));
    share.setSynchronised(true);
    tree->setSynchronised(true);
    share.addChild(std::make_unique<dwl::Tree::File>(realId, L"ghost.txt", 1, 1));
    share.addChild(std::make_unique<dwl::Tree::File>(realId, L"real.txt", 4, 1));

    auto snapshotOfDisk = [&]
    {
        auto root = std::make_unique<dwl::Tree::Directory>(tree->localId(), folder);
        auto& docs = root->addChild(std::make_unique<dwl::Tree::Directory>(share.localId(), L"Docs"));
        docs.addChild(std::make_unique<dwl::Tree::File>(realId, L"real.txt", 4, 1));
        return root;
    };
    callback.onStartScanner = [&] { processor.postSnapshot(snapshotOfDisk()); };
    processor.start();
    ASSERT_TRUE(waitUntil([&] { return callback.reports.count("startScanner") == 1; }));
    // A later snapshot proves that the first one was handled.
    auto later = snapshotOfDisk();
    later->addChild(std::make_unique<dwl::Tree::Directory>(4242, L"Later"));
    processor.postSnapshot(std::move(later));
    ASSERT_TRUE(waitUntil([&] { return api.called("createShare Later"); }));
    stopAndCheck();

    std::vector<std::wstring> names;
    for (const auto& child : share.children())
        names.push_back(child.name());
    EXPECT_EQ(names, std::vector<std::wstring>{L"real.txt"});
    EXPECT_FALSE(share.isSynchronised());
    EXPECT_FALSE(tree->isSynchronised());
}

// A Share "Docs" holding a.txt on disk and in the tree, and a server whose message #0 deletes that document.
class ServerDeletionTest : public CommandProcessorTest
{
protected:
    ServerDeletionTest()
    {
        ::setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
        std::filesystem::create_directories(scratch / "Docs");
        fileId = qcl::file::getFileId(compat::fileNameToUtf16(scratch.writeFile("Docs/a.txt", "mine")));
        share = &tree->addChild(
            std::make_unique<dwl::Tree::Directory>(qcl::file::getFileId(folder + L"/Docs"), L"Docs"));
        share->setShareId(shareId);
        share->setAssetId(qcl::uint128::fromHalves(2, 1));
        share->setSynchronised(true);
        tree->setSynchronised(true);
        auto& file = share->addChild(recordOf("Docs/a.txt", L"a.txt"));
        file.setShareId(shareId);
        file.setAssetId(documentId);
        api.shares = {{shareId, share->assetId(), L"Docs"}};

        api.onGetServerMessage = [this](std::uint64_t number)
        {
            if (number != 0)
                return std::optional<dwl::IWayfoldApi::ServerMessage>();
            ++deletionRequests;
            return std::optional(
                dwl::IWayfoldApi::ServerMessage{0, dwl::EventType::documentDeleted, shareId, documentId});
        };
        processor.setDeviceId(qcl::uint128::fromHalves(0, 7));
        processor.setPollingInterval(20ms);
    }

    ~ServerDeletionTest() override { ::unsetenv("XDG_DATA_HOME"); }

    std::unique_ptr<dwl::Tree::File> recordOf(const std::string& relative, const std::wstring& name)
    {
        const auto facts = dwl::commandprocessor::readFileFacts(compat::fileNameToUtf16(scratch / relative));
        return std::make_unique<dwl::Tree::File>(facts.localId, name, facts.size, facts.lastModificationTime);
    }

    // What a scan of the folder finds now.
    std::unique_ptr<dwl::Tree::Directory> snapshotOfDisk()
    {
        auto root = std::make_unique<dwl::Tree::Directory>(tree->localId(), folder);
        auto& docs = root->addChild(std::make_unique<dwl::Tree::Directory>(share->localId(), L"Docs"));
        for (const auto& entry : std::filesystem::directory_iterator(scratch / "Docs"))
            docs.addChild(recordOf("Docs/" + entry.path().filename().string(),
                                   compat::fileNameToUtf16(entry.path().filename().string())));
        return root;
    }

    // The scanner is stopped before each change of the disk, so it may have been stopped more than once.
    void stopWithoutError()
    {
        processor.stop();
        EXPECT_EQ(callback.reports.details("threadError"), std::vector<std::wstring>());
    }

    bool messageApplied() const
    {
        const auto numbers = callback.reports.details("setNextServerMessageNumber");
        return std::find(numbers.begin(), numbers.end(), L"1") != numbers.end();
    }

    const qcl::uint128 shareId = qcl::uint128::fromHalves(1, 1);
    const qcl::uint128 documentId = qcl::uint128::fromHalves(3, 1);
    std::uint64_t fileId = 0;
    dwl::Tree::Directory* share = nullptr;
    std::atomic<int> deletionRequests{0};
};

TEST_F(ServerDeletionTest, ADeletionOfAnItemRenamedButNotScannedWaitsForTheSnapshotThatRecordsTheRename)
{
    // The first scan ran before the user renamed the file.
    auto beforeRename = snapshotOfDisk();
    std::filesystem::rename(scratch / "Docs/a.txt", scratch / "Docs/b.txt");
    bool first = true;
    callback.onStartScanner = [&]
    {
        processor.postSnapshot(first ? std::move(beforeRename) : snapshotOfDisk());
        first = false;
    };
    api.acceptRenames = true;
    processor.start();

    ASSERT_TRUE(waitUntil([&] { return deletionRequests >= 3; }));
    EXPECT_FALSE(messageApplied());
    EXPECT_TRUE(std::filesystem::exists(scratch / "Docs/b.txt"));

    processor.postSnapshot(snapshotOfDisk());
    ASSERT_TRUE(waitUntil([&] { return messageApplied(); }));
    stopWithoutError();
    EXPECT_TRUE(api.called("renameDocument b.txt"));
    EXPECT_FALSE(std::filesystem::exists(scratch / "Docs/b.txt"));
    EXPECT_TRUE(std::filesystem::exists(scratch / "data/Trash/files/b.txt"));
    EXPECT_TRUE(share->children().empty());
    EXPECT_EQ(callback.reports.count("onLocalRemovalFailed"), 0u);
}

TEST_F(ServerDeletionTest, ADeletionThatFailsForALocalReasonIsPassedReportedOnceAndAppliedOnceItCanBe)
{
    scratch.makeDirectory("data");
    scratch.writeFile("data/Trash"); // a file where the trash folder belongs: no trash can be used
    callback.onStartScanner = [&] { processor.postSnapshot(snapshotOfDisk()); };
    processor.start();

    // Passed, so the messages behind it are applied; the Share is brought down again, which finds the item
    // gone from the server and retries it, at each retry point of passed work.
    ASSERT_TRUE(waitUntil([&] { return messageApplied(); }));
    EXPECT_EQ(deletionRequests, 3);
    ASSERT_TRUE(waitUntil([&] { return api.called("getChildren"); }));
    EXPECT_TRUE(std::filesystem::exists(scratch / "Docs/a.txt"));
    std::filesystem::remove(scratch / "data/Trash");
    ASSERT_TRUE(waitUntil([&] { return !std::filesystem::exists(scratch / "Docs/a.txt"); }));
    stopWithoutError();
    EXPECT_TRUE(std::filesystem::exists(scratch / "data/Trash/files/a.txt"));
    EXPECT_EQ(callback.reports.details("onLocalRemovalFailed"), std::vector<std::wstring>{L"a.txt"});
    EXPECT_TRUE(share->children().empty());
}

TEST_F(ServerDeletionTest, AHiddenItemIsNotDeleted)
{
    ASSERT_TRUE(
        SetFileAttributesW(compat::fileNameToUtf16(scratch / "Docs/a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    bool first = true;
    callback.onStartScanner = [&]
    {
        if (first)
            processor.postSnapshot(snapshotOfDisk());
        first = false;
    };
    processor.start();

    ASSERT_TRUE(waitUntil([&] { return deletionRequests >= 3; }));
    stopWithoutError();
    EXPECT_FALSE(messageApplied());
    EXPECT_TRUE(std::filesystem::exists(scratch / "Docs/a.txt"));
    EXPECT_EQ(callback.reports.count("onLocalRemovalFailed"), 0u);
}
} // namespace
