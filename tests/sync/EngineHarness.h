#pragma once
// One synchronisation engine as the application wires it, for tests: a Wayfold folder, its "Data" file, the
// tree, the scanner with its folder monitor, and the command processor, talking to a Wayfold server through
// the REST client (or any IWayfoldApi). The callback records what the engine reports, so tests can wait on
// it.

#include "../support/WaitUntil.h"
#include "api/WayfoldApi.h"
#include "compat/FileNameText.h"
#include "qcl/File.h"
#include "qcl/String.h"
#include "sync/CommandProcessor.h"
#include "sync/Scanner.h"
#include "sync/Serializer.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace enginetest
{
using test::waitUntil;

// What the engine reported, by callback name.
class Reports
{
public:
    void add(const std::string& kind, std::wstring detail = {})
    {
        std::lock_guard lock(mMutex);
        ++mCounts[kind];
        mEntries.emplace_back(kind, std::move(detail));
    }
    // Kept as a tally, so that a caller polling it does not hold up the engine's add.
    std::size_t count(const std::string& kind) const
    {
        std::lock_guard lock(mMutex);
        const auto found = mCounts.find(kind);
        return found == mCounts.end() ? 0 : found->second;
    }
    std::vector<std::wstring> details(const std::string& kind) const
    {
        std::lock_guard lock(mMutex);
        std::vector<std::wstring> found;
        for (const auto& entry : mEntries)
            if (entry.first == kind)
                found.push_back(entry.second);
        return found;
    }
    void clear()
    {
        std::lock_guard lock(mMutex);
        mEntries.clear();
        mCounts.clear();
    }

private:
    mutable std::mutex mMutex;
    std::vector<std::pair<std::string, std::wstring>> mEntries;
    std::map<std::string, std::size_t> mCounts;
};

struct EngineSettings
{
    std::chrono::milliseconds pollingInterval{200};
    std::chrono::milliseconds snapshotRetryInterval{300};
    std::chrono::milliseconds quietTime{150};
    std::chrono::milliseconds maxSnapshotDelay = dwl::Scanner::kMaxSnapshotDelay;
    std::uint64_t maxUploadSize = 0;
    std::wstring documentBlacklist;
    std::wstring folderBlacklist;
};

class Engine : private dwl::CommandProcessor::Callback
{
public:
    // The folder must exist. `deviceId` is the one a previous run registered (nil: none yet).
    Engine(dwl::IWayfoldApi& api, const std::filesystem::path& folder, const std::filesystem::path& dataFile,
           const EngineSettings& settings, const qcl::uint128& deviceId = {})
        : mApi(api), mFolder(compat::fileNameToUtf16(folder.string())), mProcessor(api, *this),
          mDeviceId(deviceId)
    {
        mSerializer.open(compat::fileNameToUtf16(dataFile.string()));
        mTree = mSerializer.loadTree();
        if (!mTree)
        {
            mTree = std::make_unique<dwl::Tree::Directory>(qcl::file::getFileId(mFolder), mFolder);
            mSerializer.saveTree(*mTree);
        }
        mTree->setName(mFolder);
        mProcessor.setTree(*mTree);
        // The folder is the one there at the start, whatever its path names later.
        const dwl::PinnedFolder pinned = dwl::PinnedFolder::of(mFolder);
        mProcessor.setFolder(pinned);
        mScanner.setFolder(pinned);
        mProcessor.setCreationIntents(mSerializer);
        mProcessor.setDeviceId(deviceId);
        if (auto* rest = dynamic_cast<dwl::WayfoldApi*>(&api))
            rest->setDeviceId(deviceId);
        mNextServerMessageNumber = mSerializer.getNextServerMessageNumber();
        mProcessor.setNextServerMessageNumber(mNextServerMessageNumber);
        mProcessor.setPollingInterval(settings.pollingInterval);
        mProcessor.setSnapshotRetryInterval(settings.snapshotRetryInterval);
        mProcessor.setMaxUploadSize(settings.maxUploadSize);
        mProcessor.setDocumentBlacklist(settings.documentBlacklist);
        mProcessor.setFolderBlacklist(settings.folderBlacklist);
        mProcessor.setErrorCallback([this](qcl::NamedThread*)
                                    { reports.add("threadError", qcl::currentExceptionMessage()); });

        mScanner.setQuietTime(settings.quietTime);
        mScanner.setMaxSnapshotDelay(settings.maxSnapshotDelay);
        mScanner.setSnapshotCallback(
            [this](dwl::Tree::Directory* root)
            {
                std::unique_ptr<dwl::Tree::Node> copy = root->clone();
                mProcessor.postSnapshot(std::unique_ptr<dwl::Tree::Directory>(copy.release()->asDirectory()));
                ++mSnapshots;
            });
    }

    ~Engine() { stop(); }

    void start() { mProcessor.start(); }
    void stop()
    {
        mApi.setMustCloseSocket(true);
        mProcessor.stop();
        mApi.setMustCloseSocket(false);
    }

    bool isRunning() const { return mProcessor.isRunning(); }
    qcl::uint128 deviceId() const
    {
        std::lock_guard lock(mDeviceMutex);
        return mDeviceId;
    }
    std::uint64_t nextServerMessageNumber() const { return mNextServerMessageNumber; }
    std::size_t snapshots() const { return mSnapshots; }
    bool synchronising() const { return mSynchronising; }
    // The tree belongs to the engine's thread: read it only while the engine is stopped.
    dwl::Tree::Directory& tree() { return *mTree; }

    Reports reports;

private:
    void onDeviceRegistered(const qcl::uint128& deviceId) override
    {
        {
            std::lock_guard lock(mDeviceMutex);
            mDeviceId = deviceId;
        }
        if (auto* rest = dynamic_cast<dwl::WayfoldApi*>(&mApi))
            rest->setDeviceId(deviceId);
        reports.add("onDeviceRegistered");
    }
    void onFileTooBig(const std::wstring& path, std::uint64_t, std::uint64_t) override
    {
        reports.add("onFileTooBig", path);
    }
    void onServerUnavailable(const url::Error& error) override
    {
        reports.add("onServerUnavailable", error.message());
    }
    void onServerAvailable() override { reports.add("onServerAvailable"); }
    void setSynchronising(bool synchronising) override { mSynchronising = synchronising; }
    void setNextServerMessageNumber(std::uint64_t number) override
    {
        mSerializer.setNextServerMessageNumber(number);
        mNextServerMessageNumber = number;
    }
    void onDocumentDownloaded(const dwl::Tree::File& file, const dwl::Tree::Directory&) override
    {
        reports.add("onDocumentDownloaded", file.name());
    }
    void onDocumentDownloadFailed(const std::wstring& name, const std::wstring&, const std::wstring&) override
    {
        reports.add("onDocumentDownloadFailed", name);
    }
    void onFolderDownloadFailed(const std::wstring& name, const std::wstring&, const std::wstring&) override
    {
        reports.add("onFolderDownloadFailed", name);
    }
    void onLocalRemovalFailed(const dwl::Tree::Node& node, const dwl::Tree::Directory&,
                              const std::wstring&) override
    {
        reports.add("onLocalRemovalFailed", node.name());
    }
    void onLocalUpdateBlocked(const dwl::Tree::Node& node, const dwl::Tree::Directory&,
                              const std::wstring& reason) override
    {
        reports.add("onLocalUpdateBlocked", node.name());
        reports.add("updateBlockedBecause", reason);
    }
    void onDocumentCreationFailed(const std::wstring& name, const dwl::Tree::Directory&,
                                  const std::error_code&, const std::wstring&) override
    {
        reports.add("onDocumentCreationFailed", name);
    }
    void onFolderCreationFailed(const std::wstring& name, const dwl::Tree::Directory&, const std::error_code&,
                                const std::wstring&) override
    {
        reports.add("onFolderCreationFailed", name);
    }
    void onShareCreationFailed(const std::wstring& name, const std::error_code&, const std::wstring&) override
    {
        reports.add("onShareCreationFailed", name);
    }
    void onDocumentUploadFailed(const dwl::Tree::File& file, const dwl::Tree::Directory&,
                                const std::error_code&, const std::wstring&) override
    {
        reports.add("onDocumentUploadFailed", file.name());
    }
    void onItemUnreadable(const dwl::Tree::Node& item, const dwl::Tree::Directory&, const std::wstring&) override
    {
        reports.add("onItemUnreadable", item.name());
    }
    void onOtherName(const dwl::Tree::File& name, const dwl::Tree::Directory&, const std::wstring&) override
    {
        reports.add("onOtherName", name.getPath());
    }
    void onWayfoldFolderMissing(const std::wstring& reason) override { reports.add("onWayfoldFolderMissing", reason); }
    void startScanner() override
    {
        mScanner.start();
        reports.add("startScanner");
    }
    void stopScanner() override
    {
        mScanner.stop();
        reports.add("stopScanner");
    }

    dwl::IWayfoldApi& mApi;
    std::wstring mFolder;
    dwl::Serializer mSerializer;
    std::unique_ptr<dwl::Tree::Directory> mTree;
    dwl::Scanner mScanner;
    dwl::CommandProcessor mProcessor;
    mutable std::mutex mDeviceMutex;
    qcl::uint128 mDeviceId; // guarded by mDeviceMutex
    std::atomic<std::size_t> mSnapshots{0};
    std::atomic<bool> mSynchronising{false};
    std::atomic<std::uint64_t> mNextServerMessageNumber{0};
};
} // namespace enginetest
