#include "app/Mediator.h"

#include "app/Blacklist.h"
#include "app/Paths.h"
#include "app/StartFailure.h"
#include "app/WayfoldFolder.h"
#include "compat/FileApi.h"
#include "compat/LastError.h"
#include "json_spirit/Reader.h"
#include "json_spirit/Value.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"

#include <algorithm>
#include <limits>

namespace dwl
{
namespace
{
// Long enough to mean "never" without overflowing a clock's deadline.
constexpr std::uint64_t maxIntervalSeconds = 100ull * 365 * 24 * 3600;

std::chrono::milliseconds fromSeconds(std::uint64_t seconds)
{
    return std::chrono::seconds(std::min(seconds, maxIntervalSeconds));
}

long flag(bool on)
{
    return on ? 1L : 0L;
}

// A file of the data folder; a data folder that cannot be made or used (it belongs to another user, say)
// stops the start.
std::wstring dataFile(std::wstring (*file)())
{
    try
    {
        return file();
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        throw StartFailure(error.message());
    }
}

// Without a list that names at least one server, nothing can be configured.
ServerList loadServerList(const std::wstring& path)
{
    bool namesServers = false;
    try
    {
        const json_spirit::Value root = json_spirit::readFile(path);
        namesServers = static_cast<bool>(root["Servers"]);
        if (namesServers)
            return ServerList::loadFromValue(root);
    }
    catch (const qcl::SystemError& error)
    {
        // The path is named once: the system's text says what is wrong with it.
        throw StartFailure(qcl::format(L"Cannot read the list of servers '%1%': %2%", path,
                                       error.systemText()));
    }
    catch (...)
    {
        throw StartFailure(
            qcl::format(L"Cannot read the list of servers '%1%': %2%", path, qcl::currentExceptionMessage()));
    }
    throw StartFailure(qcl::format(L"The list of servers '%1%' names no server", path));
}
} // namespace

Mediator::MissingFolder::MissingFolder(const std::wstring& folder)
    : basic_runtime_error(qcl::format(L"Cannot find folder '%1%'", folder)), mFolder(folder)
{
}

Mediator::Mediator() : mCommandProcessor(mApi, *this)
{
    mScanner.setSnapshotCallback(
        [this](Tree::Directory* root)
        {
            std::unique_ptr<Tree::Node> copy = root->clone();
            mCommandProcessor.postSnapshot(std::unique_ptr<Tree::Directory>(copy.release()->asDirectory()));
        });
    mScanner.setFolderErrorCallback([this](const std::wstring& message) { onWayfoldFolderMissing(message); });

    const qcl::NamedThread::ErrorCallback threadError = [this](qcl::NamedThread* thread)
    { onThreadError(thread); };
    mCommandProcessor.setErrorCallback(threadError);
    mScanner.setErrorCallback(threadError);
    mScanner.folderMonitor().setErrorCallback(threadError);
    mUpgradeChecker.setErrorCallback(threadError);

    mUpgradeChecker.setNewVersionHandler(
        [this](const Version& version, const std::string& installerUrl)
        { report([&](Callback& callback) { callback.onNewVersionAvailable(version, installerUrl); }); });
    mUpgradeDownloader.setCallback(this);
}

Mediator::~Mediator()
{
    {
        std::lock_guard lock(mReportMutex);
        mDestroying = true;
    }
    try
    {
        stop();
    }
    catch (...)
    {
        QCL_LOG_ERROR(L"Cannot cleanly stop the application: " << qcl::currentExceptionMessage());
    }
}

void Mediator::setApplicationVersion(const Version& version)
{
    mApplicationVersion = version;
    mUpgradeChecker.setCurrentVersion(version);
    mSerializer.setApplicationVersion(version.toWString());
}

void Mediator::setUserAgent(const std::string& userAgent)
{
    for (url::Session* session : {&mApi.session(), &mUpgradeChecker.session(), &mUpgradeDownloader.session()})
        session->setOption(CURLOPT_USERAGENT, userAgent.c_str());
}

bool Mediator::initialise()
{
    lockInstance();
    loadDatabase();
    loadConfigurationFromFileIfNecessary();
    Configuration& configuration = *mConfiguration;
    if (!configuration.proxy.empty())
        mApi.session().setOption(CURLOPT_PROXY, configuration.proxy.c_str());
    if (!showConfigurationDialogIfNecessary())
        return false;

    const ServerList::Server* chosen = server();
    if (chosen == nullptr)
        throw qcl::basic_runtime_error<wchar_t>(
            qcl::format(L"Cannot find server '%1%' in the list of servers", configuration.server));
    configureApi(*chosen);
    configureCommandProcessor(*chosen);

    openWayfoldFolder(wayfoldFolder());
    recordTreeRoot(mWayfoldFolder);
    mScanner.setFolder(mWayfoldFolder);
    mCommandProcessor.setFolder(mWayfoldFolder);
    mScanner.setRescanInterval(
        static_cast<std::int64_t>(std::min(configuration.rescanIntervalInSeconds, maxIntervalSeconds)));
    configureUpgradeWorkers(*chosen);
    return true;
}

void Mediator::lockInstance()
{
    if (!mLock.isHeld())
        mLock.lock(dataFile(&Paths::lockFile));
}

void Mediator::loadDatabase()
{
    if (mTree)
        return;
    mSerializer.open(dataFile(&Paths::databaseFile));
    std::unique_ptr<Tree::Directory> tree = mSerializer.loadTree();
    if (!tree)
    {
        tree = std::make_unique<Tree::Directory>(0, L"");
        mSerializer.saveTree(*tree);
    }
    mTree = std::move(tree);
    mCommandProcessor.setTree(*mTree);
    mCommandProcessor.setCreationIntents(mSerializer);
    mCommandProcessor.setNextServerMessageNumber(mSerializer.getNextServerMessageNumber());
}

void Mediator::loadConfigurationFromFileIfNecessary()
{
    if (!mServerList)
    {
        const std::wstring path = mServerListFile.empty() ? Paths::serverListFile() : mServerListFile;
        QCL_LOG_TRACE(L"File containing list of servers: " << qcl::string::escaped(path));
        mServerList = std::make_unique<ServerList>(loadServerList(path));
    }
    if (!mConfiguration)
    {
        auto configuration = std::make_unique<Configuration>(Configuration::withDefaults());
        try
        {
            Configuration::load(*configuration, Paths::configurationFile());
        }
        catch (...)
        {
            QCL_LOG_DEBUG(L"Cannot load configuration file: " << qcl::currentExceptionMessage());
            configuration->mustShowConfigurationDialog = true;
        }
        configuration->version = mApplicationVersion;
        mConfiguration = std::move(configuration);
    }
}

bool Mediator::showConfigurationDialogIfNecessary()
{
    Configuration& configuration = *mConfiguration;
    if (!configuration.mustShowConfigurationDialog && server() != nullptr)
        return true;

    const Configuration before = configuration;
    if (!mCallback->editConfiguration(configuration, mApi, *mServerList))
        return false;
    const std::wstring folder = wayfoldFolder();
    mCallback->createWayfoldShortcutInFavorites(folder);

    // The same account in the same folder goes on where it was: emptying the picture of a folder that still
    // holds its files would send every one of them to the server again as new. The dialog accepted the
    // folder's content by the same test.
    const bool sameAccountAndFolder = isSameAccountAndFolder(
        before, configuration.server, configuration.userName, configuration.wayfoldFolderLocation);
    if (!sameAccountAndFolder || mTree->children().empty())
    {
        if (!mTree->children().empty())
        {
            QCL_LOG_WARN(L"Clearing the database because the configuration has been modified");
            mTree->removeAllChildren();
        }
        mCommandProcessor.setNextServerMessageNumber(0);
        mSerializer.setNextServerMessageNumber(0);
        configuration.deviceId = qcl::uint128();
    }
    configuration.mustShowConfigurationDialog = false;
    Configuration::save(configuration, Paths::configurationFile());
    return true;
}

void Mediator::configureApi(const ServerList::Server& chosen)
{
    const Configuration& configuration = *mConfiguration;
    mApi.setServerUrl(chosen.restUrl);
    mApi.setCheckForGenuineServer(chosen.checkForGenuineServer);
    mApi.session().setOption(CURLOPT_SSL_VERIFYPEER, flag(chosen.checkCertificate));
    mApi.setCredentials(configuration.userName, configuration.password);
    mApi.setUserId(configuration.userId);
    mApi.setDeviceId(configuration.deviceId);
}

void Mediator::configureCommandProcessor(const ServerList::Server& chosen)
{
    const Configuration& configuration = *mConfiguration;
    mCommandProcessor.setDeviceId(configuration.deviceId);
    mCommandProcessor.setMaxUploadSize(
        static_cast<std::uint64_t>(std::max<std::int64_t>(chosen.maxUploadSize, 0)));
    mCommandProcessor.setPollingInterval(fromSeconds(chosen.messagePollingIntervalInSeconds));
    mCommandProcessor.setDocumentBlacklist(
        joinBlacklist(configuration.documentBlackList.value_or(mServerList->documentBlackList())));
    mCommandProcessor.setFolderBlacklist(
        joinBlacklist(configuration.folderBlackList.value_or(mServerList->folderBlackList())));
    // Without a scanner no snapshot ever comes, and the server must not wait for one.
    mCommandProcessor.setFirstSnapshotAwaited(configuration.mustMonitorFolder);
}

void Mediator::openWayfoldFolder(const std::wstring& folder)
{
    qcl::Handle handle;
    PinnedFolder pinned;
    try
    {
        handle = openUsersOwnFolder(folder);
        pinned = PinnedFolder::of(folder);
    }
    catch (const FolderOpenToOthers& error)
    {
        // Nothing of it may reach the server under this user's account until the user mends it.
        throw StartFailure(error.message() + L".\n" + error.remedy(true));
    }
    catch (const qcl::SystemError&)
    {
        throw MissingFolder(folder);
    }
    // Both opens must have met the folder that was checked to be the user's own.
    if (qcl::File::getFileId(handle.get()) != pinned.localId() || !isRecordedFolder(pinned))
        throw MissingFolder(folder);
    mFolderHandle = std::move(handle);
    mWayfoldFolder = pinned;
}

// Another folder than the one the tree was recorded from is taken only when it holds some of the recorded Shares: a
// folder restored from a copy, or moved to another disk (its items are then known again by their names). An empty
// folder in its place (a mount point whose disk is not mounted, a folder made anew) is the Wayfold folder missing,
// not the removal of every Share.
bool Mediator::isRecordedFolder(const PinnedFolder& folder) const
{
    const std::uint64_t recorded = mTree->localId();
    if (recorded == 0 || recorded == folder.localId())
        return true;
    std::size_t shares = 0;
    try
    {
        const compat::at::Descriptor opened = folder.open();
        for (const Tree::Node& child : mTree->children())
        {
            if (!child.asDirectory())
                continue;
            ++shares;
            if (PinnedFolder::holdsFolder(opened, child.name()))
            {
                QCL_LOG_INFO(L"The Wayfold folder " << qcl::string::escaped(folder.path(), L'\'')
                                                    << L" is not the folder it was (local ID "
                                                    << Tree::formatLocalId(folder.localId()) << L" instead of "
                                                    << Tree::formatLocalId(recorded)
                                                    << L"), but holds its Shares: taken as restored or moved");
                return true;
            }
        }
    }
    catch (const PinnedFolder::Lost&)
    {
        return false;
    }
    if (shares == 0)
        return true;
    QCL_LOG_ERROR(L"The folder at " << qcl::string::escaped(folder.path(), L'\'')
                                    << L" is not the Wayfold folder (local ID " << Tree::formatLocalId(folder.localId())
                                    << L" instead of " << Tree::formatLocalId(recorded) << L") and holds none of its "
                                    << shares << L" Shares");
    return false;
}

void Mediator::recordTreeRoot(const PinnedFolder& folder)
{
    // Raises the changes that the database's listener stores. A folder restored or moved takes its new identity
    // once the engine has compared it with the tree: what it lacks was then not restored rather than removed.
    mTree->setName(folder.path());
    if (mTree->localId() == 0)
        mTree->setLocalId(folder.localId());
}

void Mediator::configureUpgradeWorkers(const ServerList::Server& chosen)
{
    const Configuration& configuration = *mConfiguration;
    mUpgradeChecker.setDelayBeforeCheck(fromSeconds(chosen.delayBeforeCheckingForUpgradeInSeconds));
    mUpgradeChecker.setPollingInterval(fromSeconds(chosen.upgradeInfoPollingIntervalInSeconds));
    mUpgradeChecker.setRetryInterval(fromSeconds(chosen.upgradeInfoRetryIntervalInSeconds));
    mUpgradeChecker.setUpgradeInfoUrl(chosen.upgradeInfoUrl);
    for (url::Session* session : {&mUpgradeChecker.session(), &mUpgradeDownloader.session()})
    {
        session->setOption(CURLOPT_SSL_VERIFYPEER, flag(chosen.checkCertificate));
        if (!configuration.proxy.empty())
            session->setOption(CURLOPT_PROXY, configuration.proxy.c_str());
    }
}

bool Mediator::reenterPassword()
{
    Configuration& configuration = *mConfiguration;
    if (!mCallback->editPassword(configuration, mApi, *mServerList))
        return false;
    Configuration::save(configuration, Paths::configurationFile());
    mApi.setCredentials(configuration.userName, configuration.password);
    return true;
}

void Mediator::start()
{
    QCL_LOG_INFO(L">>> Starting application threads");
    mRunning.exchange(true);
    mFolderMissingReported = false;
    mCommandProcessor.forgetReportedStates();
    mCommandProcessor.start();
    mUpgradeChecker.start();
    QCL_LOG_INFO(L"<<< Started application threads");
}

void Mediator::stop()
{
    if (!mRunning.load())
    {
        // Not running, yet an unlink may be under way: closing ends it too.
        if (mUnlinkTask.valid())
        {
            qcl::scope::Guard allowSockets([this] { mApi.setMustCloseSocket(false); });
            mApi.setMustCloseSocket(true);
            mUnlinkTask.wait();
        }
        return;
    }
    QCL_LOG_INFO(L">>> Stopping application threads");
    mRunning.exchange(false);
    qcl::scope::Guard cleanUp(
        [this]
        {
            mApi.setMustCloseSocket(false);
            mFolderHandle.close();
        });
    mApi.setMustCloseSocket(true);
    if (mUnlinkTask.valid())
        mUnlinkTask.wait();
    // Joins a thread that ended by itself too, so that it can be started again.
    mCommandProcessor.stop();
    mUpgradeChecker.stop();
    QCL_LOG_INFO(L"<<< Stopped application threads");
}

void Mediator::unlink()
{
    const qcl::uint128 deviceId = mConfiguration ? mConfiguration->deviceId : qcl::uint128();
    mUnlinkTask =
        std::async(std::launch::async,
                   [this, deviceId]
                   {
                       qcl::scope::Guard completed(
                           [this] { report([](Callback& callback) { callback.onUnlinkCompleted(); }); });
                       if (!deviceId.isNil())
                           mApi.unregisterDevice(deviceId);
                       return deviceId;
                   });
}

void Mediator::onDeviceUnregistered()
{
    if (!mUnlinkTask.valid())
        return;
    try
    {
        const qcl::uint128 deviceId = mUnlinkTask.get();
        if (!deviceId.isNil())
            QCL_LOG_INFO(L"Unregistered device: " << deviceId);
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        QCL_LOG_WARN(L"Cannot unregister Device: " << error.message());
    }
}

void Mediator::clearDatabaseAndConfiguration()
{
    QCL_LOG_INFO(L"Erasing configuration and clearing the Tree database");
    Configuration& configuration = *mConfiguration;
    configuration.wayfoldFolderLocation = Paths::defaultFolderLocation();
    configuration.server.clear();
    configuration.userName.clear();
    configuration.password.clear();
    configuration.mustShowConfigurationDialog = true;
    configuration.deviceId = qcl::uint128();
    configuration.userId = qcl::uint128();
    Configuration::save(configuration, Paths::configurationFile());

    mTree->removeAllChildren();
    mCommandProcessor.setDeviceId(qcl::uint128());
    mCommandProcessor.setNextServerMessageNumber(0);
    mSerializer.setNextServerMessageNumber(0);
    mApi.setDeviceId(qcl::uint128());
}

const ServerList::Server* Mediator::server() const
{
    if (!mServerList || !mConfiguration)
        return nullptr;
    return mServerList->find(mConfiguration->server);
}

std::string Mediator::serverBaseUrl() const
{
    const ServerList::Server* chosen = server();
    return chosen != nullptr ? chosen->baseUrl : std::string();
}

std::wstring Mediator::wayfoldFolder() const
{
    return mConfiguration ? Paths::wayfoldFolder(mConfiguration->wayfoldFolderLocation) : std::wstring();
}

Mediator::Callback* Mediator::runningCallback() const
{
    return mRunning.load() ? mCallback : nullptr;
}

template <class Call> void Mediator::report(Call&& call)
{
    std::lock_guard lock(mReportMutex);
    if (!mDestroying && mCallback != nullptr)
        call(*mCallback);
}

void Mediator::onThreadError(qcl::NamedThread* thread)
{
    // The scanner and its monitor fail to start on a folder that has gone since the last scan: that is the
    // folder's loss, not a fault of the program.
    const bool watchesFolder = thread == &mScanner || thread == &mScanner.folderMonitor();
    if (watchesFolder && !mWayfoldFolder.isStillAtPath())
    {
        onWayfoldFolderMissing(qcl::currentExceptionMessage());
        return;
    }
    if (Callback* callback = runningCallback())
        callback->onThreadError(*thread);
}

void Mediator::onWayfoldFolderMissing(const std::wstring& reason)
{
    Callback* callback = runningCallback();
    if (callback == nullptr || mFolderMissingReported.exchange(true))
        return;
    QCL_LOG_WARN(L"The Wayfold folder is missing: " << reason);
    callback->onWayfoldFolderMissing(wayfoldFolder());
}

void Mediator::onDeviceRegistered(const qcl::uint128& deviceId)
{
    mApi.setDeviceId(deviceId);
    mConfiguration->deviceId = deviceId;
    Configuration::save(*mConfiguration, Paths::configurationFile());
}

void Mediator::onFileTooBig(const std::wstring& path, std::uint64_t size, std::uint64_t maximumSize)
{
    if (Callback* callback = runningCallback())
        callback->onFileTooBig(path, size, maximumSize);
}

void Mediator::onServerUnavailable(const url::Error& error)
{
    if (Callback* callback = runningCallback())
        callback->onServerUnavailable(error);
}

void Mediator::onServerAvailable()
{
    if (Callback* callback = runningCallback())
        callback->onServerAvailable();
}

void Mediator::setSynchronising(bool synchronising)
{
    if (Callback* callback = runningCallback())
        callback->setSynchronising(synchronising);
}

void Mediator::setNextServerMessageNumber(std::uint64_t number)
{
    mSerializer.setNextServerMessageNumber(number);
}

void Mediator::onDocumentDownloaded(const Tree::File& file, const Tree::Directory& share)
{
    if (Callback* callback = runningCallback())
        callback->onDocumentDownloaded(file, share);
}

void Mediator::onDocumentDownloadFailed(const std::wstring& name, const std::wstring& folderPath,
                                        const std::wstring& reason)
{
    if (Callback* callback = runningCallback())
        callback->onDocumentDownloadFailed(name, folderPath, reason);
}

void Mediator::onFolderDownloadFailed(const std::wstring& name, const std::wstring& parentPath,
                                      const std::wstring& reason)
{
    if (Callback* callback = runningCallback())
        callback->onFolderDownloadFailed(name, parentPath, reason);
}

void Mediator::onLocalRemovalFailed(const Tree::Node& node, const Tree::Directory& share,
                                    const std::wstring& reason)
{
    if (Callback* callback = runningCallback())
        callback->onLocalRemovalFailed(node, share, reason);
}

void Mediator::onLocalUpdateBlocked(const Tree::Node& node, const Tree::Directory& share,
                                    const std::wstring& reason)
{
    if (Callback* callback = runningCallback())
        callback->onLocalUpdateBlocked(node, share, reason);
}

void Mediator::onDocumentCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                        const std::error_code& code, const std::wstring& message)
{
    if (Callback* callback = runningCallback())
        callback->onDocumentCreationFailed(path, share, code, message);
}

void Mediator::onFolderCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                      const std::error_code& code, const std::wstring& message)
{
    if (Callback* callback = runningCallback())
        callback->onFolderCreationFailed(path, share, code, message);
}

void Mediator::onShareCreationFailed(const std::wstring& path, const std::error_code& code,
                                     const std::wstring& message)
{
    if (Callback* callback = runningCallback())
        callback->onShareCreationFailed(path, code, message);
}

void Mediator::onDocumentUploadFailed(const Tree::File& file, const Tree::Directory& share,
                                      const std::error_code& code, const std::wstring& message)
{
    if (Callback* callback = runningCallback())
        callback->onDocumentUploadFailed(file, share, code, message);
}

void Mediator::onDocumentUploaded(const Tree::File& file, const Tree::Directory& share)
{
    if (Callback* callback = runningCallback())
        callback->onDocumentUploaded(file, share);
}

void Mediator::onItemUnreadable(const Tree::Node& item, const Tree::Directory& share, const std::wstring& reason)
{
    if (Callback* callback = runningCallback())
        callback->onItemUnreadable(item, share, reason);
}

void Mediator::onOtherName(const Tree::File& name, const Tree::Directory& share, const std::wstring& syncedPath)
{
    if (Callback* callback = runningCallback())
        callback->onOtherName(name, share, syncedPath);
}

void Mediator::startScanner()
{
    if (!mConfiguration->mustMonitorFolder)
    {
        QCL_LOG_WARN(L"Cannot start Wayfold folder scanner because it is disabled by configuration.");
        return;
    }
    mScanner.start();
}

void Mediator::stopScanner()
{
    mScanner.stop();
}

void Mediator::onUpgradeDownloadProgress(int percent)
{
    report([&](Callback& callback) { callback.onUpgradeDownloadProgress(percent); });
}

void Mediator::onUpgradeDownloadFinished(const std::wstring& installerPath)
{
    report([&](Callback& callback) { callback.onUpgradeDownloadFinished(installerPath); });
}

void Mediator::onUpgradeDownloadFailed(const std::wstring& reason)
{
    report([&](Callback& callback) { callback.onUpgradeDownloadFailed(reason); });
}
} // namespace dwl
