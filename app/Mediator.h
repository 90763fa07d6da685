#pragma once
// The hub of the desktop application: owns the engine (REST client, scanner, command processor, tree and its
// database), the configuration, the server list and the upgrade workers; sets them up from the chosen server
// and the configuration, starts and stops them, unlinks the Device, and passes the workers' reports on to the
// user interface through Mediator::Callback, dropping most of them while it is not running.
//
// The owner calls everything but the worker slots on its main thread: initialise (or reenterPassword), then
// start; stop before sleep or exit, start again on wake; stop, unlink, and on onUnlinkCompleted:
// onDeviceUnregistered, clearDatabaseAndConfiguration, initialise and start.

#include "api/ServerList.h"
#include "api/WayfoldApi.h"
#include "app/Configuration.h"
#include "app/InstanceLock.h"
#include "app/UpgradeChecker.h"
#include "app/UpgradeDownloader.h"
#include "app/Version.h"
#include "qcl/Error.h"
#include "qcl/Handle.h"
#include "qcl/Thread.h"
#include "qcl/Uint128.h"
#include "sync/CommandProcessor.h"
#include "sync/PinnedFolder.h"
#include "sync/Scanner.h"
#include "sync/Serializer.h"
#include "sync/Tree.h"

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

namespace dwl
{
class Mediator : public CommandProcessor::Callback, public UpgradeDownloader::Callback
{
public:
    // What the user interface implements. Unless noted, a slot is called on a worker thread and must only
    // copy what it shows (nodes and errors are gone after the call) and hand the work to the main thread.
    class Callback
    {
    public:
        // Worker notifications, dropped while the Mediator is not running.
        virtual void onFileTooBig(const std::wstring& path, std::uint64_t size,
                                  std::uint64_t maximumSize) = 0;
        virtual void onServerUnavailable(const url::Error& error) = 0;
        virtual void onServerAvailable() = 0;
        virtual void setSynchronising(bool synchronising) = 0;
        // On the failing thread, inside its catch block: the slot may rethrow the current exception to see
        // it.
        virtual void onThreadError(qcl::NamedThread& thread) = 0;
        virtual void onDocumentDownloaded(const Tree::File& file, const Tree::Directory& share) = 0;
        virtual void onDocumentDownloadFailed(const std::wstring& name, const std::wstring& folderPath,
                                              const std::wstring& reason) = 0;
        virtual void onFolderDownloadFailed(const std::wstring& name, const std::wstring& parentPath,
                                            const std::wstring& reason) = 0;
        virtual void onLocalRemovalFailed(const Tree::Node& node, const Tree::Directory& share,
                                          const std::wstring& reason) = 0;
        virtual void onLocalUpdateBlocked(const Tree::Node& node, const Tree::Directory& share,
                                          const std::wstring& reason) = 0;
        // The refusals, as the engine reports them (CommandProcessor::Callback).
        virtual void onDocumentCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                              const std::error_code& code, const std::wstring& message) = 0;
        virtual void onFolderCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                            const std::error_code& code, const std::wstring& message) = 0;
        virtual void onShareCreationFailed(const std::wstring& path, const std::error_code& code,
                                           const std::wstring& message) = 0;
        virtual void onDocumentUploadFailed(const Tree::File& file, const Tree::Directory& share,
                                            const std::error_code& code, const std::wstring& message) = 0;
        virtual void onDocumentUploaded(const Tree::File& file, const Tree::Directory& share) = 0;
        virtual void onItemUnreadable(const Tree::Node& item, const Tree::Directory& share,
                                      const std::wstring& reason) = 0;
        virtual void onOtherName(const Tree::File& name, const Tree::Directory& share,
                                 const std::wstring& syncedPath) = 0;
        // The Wayfold folder was renamed, replaced or unmounted while running: once a run, on the scanner or
        // folder monitor thread. Nothing in the tree or on the server is touched until the owner acts.
        virtual void onWayfoldFolderMissing(const std::wstring& folder) = 0;

        // On the unlink task's thread when the task ends, however it ends.
        virtual void onUnlinkCompleted() = 0;

        // Synchronous, on the main thread, during initialise or reenterPassword: false when the user
        // cancelled.
        virtual bool editConfiguration(Configuration& configuration, WayfoldApi& api,
                                       const ServerList& servers) = 0;
        virtual bool editPassword(Configuration& configuration, WayfoldApi& api,
                                  const ServerList& servers) = 0;
        virtual void createWayfoldShortcutInFavorites(const std::wstring& folder) = 0;

        // Always passed on, running or not.
        virtual void onNewVersionAvailable(const Version& version, const std::string& installerUrl) = 0;
        virtual void onUpgradeDownloadProgress(int percent) = 0;
        virtual void onUpgradeDownloadFinished(const std::wstring& installerPath) = 0;
        virtual void onUpgradeDownloadFailed(const std::wstring& reason) = 0;

    protected:
        ~Callback() = default;
    };

    // The Wayfold folder cannot be opened as a directory.
    class MissingFolder : public qcl::basic_runtime_error<wchar_t>
    {
    public:
        explicit MissingFolder(const std::wstring& folder);
        const std::wstring& folder() const { return mFolder; }

    private:
        std::wstring mFolder;
    };
    using OtherInstanceAlreadyRunning = dwl::OtherInstanceAlreadyRunning;

    // Wires the members; starts nothing and opens no file.
    Mediator();
    // Stops (errors are logged) and calls no slot of the callback any more: the owner stops the Mediator and
    // waits for an upgrade download before it begins to go away itself.
    ~Mediator();
    Mediator(const Mediator&) = delete;
    Mediator& operator=(const Mediator&) = delete;

    // Set by the owner before initialise.
    void setCallback(Callback* callback) { mCallback = callback; }
    // The running program's version, stored into the configuration and compared with upgrade offers.
    void setApplicationVersion(const Version& version);
    const Version& applicationVersion() const { return mApplicationVersion; }
    // The user agent of all three HTTP sessions.
    void setUserAgent(const std::string& userAgent);
    // Where the server list is read from at the first initialise; by default Paths::serverListFile().
    void setServerListFile(std::wstring path) { mServerListFile = std::move(path); }

    // Main thread. False when the user cancelled the configuration dialog. Throws
    // OtherInstanceAlreadyRunning, MissingFolder, StartFailure (a data folder that cannot be used, a list of
    // servers that is missing, unreadable or names no server, a Wayfold folder that another user could
    // change), qcl::SystemError and the database's errors.
    bool initialise();
    // Main thread, after the server refused the password and the Mediator was stopped: false when cancelled.
    bool reenterPassword();
    void start();
    // Aborts transfers, waits for an unlink task (whatever the running flag says) and stops the workers.
    void stop();
    bool isRunning() const { return mRunning.load(); }

    // Main thread, stopped: unregisters the Device on a task of its own, which reports onUnlinkCompleted.
    void unlink();
    // Main thread, after onUnlinkCompleted: takes the task's result; a failure is logged and the unlink goes
    // on.
    void onDeviceUnregistered();
    // Forgets the account, the server, the folder and the Device, and empties the tree.
    void clearDatabaseAndConfiguration();

    // The chosen server's BaseUrl; empty when no server is chosen.
    std::string serverBaseUrl() const;
    // The chosen server, or null.
    const ServerList::Server* server() const;
    // The Wayfold folder of the configuration; empty before the configuration is loaded.
    std::wstring wayfoldFolder() const;

    // Loaded by the first initialise; null before.
    Configuration* configuration() { return mConfiguration.get(); }
    const ServerList* serverList() const { return mServerList.get(); }
    Tree::Directory* tree() { return mTree.get(); }

    WayfoldApi& api() { return mApi; }
    Scanner& scanner() { return mScanner; }
    CommandProcessor& commandProcessor() { return mCommandProcessor; }
    UpgradeChecker& upgradeChecker() { return mUpgradeChecker; }
    UpgradeDownloader& upgradeDownloader() { return mUpgradeDownloader; }

    // CommandProcessor::Callback, on the command processor thread.
    void onDeviceRegistered(const qcl::uint128& deviceId) override;
    void onFileTooBig(const std::wstring& path, std::uint64_t size, std::uint64_t maximumSize) override;
    void onServerUnavailable(const url::Error& error) override;
    void onServerAvailable() override;
    void setSynchronising(bool synchronising) override;
    void setNextServerMessageNumber(std::uint64_t number) override;
    void onDocumentDownloaded(const Tree::File& file, const Tree::Directory& share) override;
    void onDocumentDownloadFailed(const std::wstring& name, const std::wstring& folderPath,
                                  const std::wstring& reason) override;
    void onFolderDownloadFailed(const std::wstring& name, const std::wstring& parentPath,
                                const std::wstring& reason) override;
    void onLocalRemovalFailed(const Tree::Node& node, const Tree::Directory& share,
                              const std::wstring& reason) override;
    void onLocalUpdateBlocked(const Tree::Node& node, const Tree::Directory& share,
                              const std::wstring& reason) override;
    void onDocumentCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                  const std::error_code& code, const std::wstring& message) override;
    void onFolderCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                const std::error_code& code, const std::wstring& message) override;
    void onShareCreationFailed(const std::wstring& path, const std::error_code& code,
                               const std::wstring& message) override;
    void onDocumentUploadFailed(const Tree::File& file, const Tree::Directory& share,
                                const std::error_code& code, const std::wstring& message) override;
    void onDocumentUploaded(const Tree::File& file, const Tree::Directory& share) override;
    void onItemUnreadable(const Tree::Node& item, const Tree::Directory& share, const std::wstring& reason) override;
    void onOtherName(const Tree::File& name, const Tree::Directory& share, const std::wstring& syncedPath) override;
    // Also the scanner's: on the command processor, scanner or folder monitor thread.
    void onWayfoldFolderMissing(const std::wstring& reason) override;
    void startScanner() override;
    void stopScanner() override;

    // UpgradeDownloader::Callback, on the download task's thread.
    void onUpgradeDownloadProgress(int percent) override;
    void onUpgradeDownloadFinished(const std::wstring& installerPath) override;
    void onUpgradeDownloadFailed(const std::wstring& reason) override;

private:
    void lockInstance();
    void loadDatabase();
    void loadConfigurationFromFileIfNecessary();
    bool showConfigurationDialogIfNecessary();
    void configureApi(const ServerList::Server& server);
    void configureCommandProcessor(const ServerList::Server& server);
    void openWayfoldFolder(const std::wstring& folder);
    // Whether the folder may be taken for the one that the tree describes (see the definition).
    bool isRecordedFolder(const PinnedFolder& folder) const;
    void recordTreeRoot(const PinnedFolder& folder);
    void configureUpgradeWorkers(const ServerList::Server& server);
    void onThreadError(qcl::NamedThread* thread);
    // The callback while running; null otherwise.
    Callback* runningCallback() const;
    // Calls `call` with the callback unless the Mediator is being destroyed.
    template <class Call> void report(Call&& call);

    std::unique_ptr<ServerList> mServerList;
    std::unique_ptr<Configuration> mConfiguration;
    WayfoldApi mApi;
    Scanner mScanner;
    CommandProcessor mCommandProcessor;
    Serializer mSerializer;
    std::unique_ptr<Tree::Directory> mTree;
    InstanceLock mLock;
    qcl::Handle mFolderHandle;
    PinnedFolder mWayfoldFolder; // the folder mFolderHandle holds, as the workers check it
    Callback* mCallback = nullptr;
    std::atomic<bool> mRunning{false};
    std::atomic<bool> mFolderMissingReported{false}; // once a run
    std::mutex mReportMutex; // held while reporting what passes whether running or not
    bool mDestroying = false;
    std::future<qcl::uint128> mUnlinkTask;
    UpgradeChecker mUpgradeChecker;
    UpgradeDownloader mUpgradeDownloader;
    Version mApplicationVersion;
    std::wstring mServerListFile;
};
} // namespace dwl
