#include "app/MainFrame.h"

#include "api/ServerError.h"
#include "app/BalloonText.h"
#include "app/Paths.h"
#include "app/StartFailure.h"
#include "app/Strings.h"
#include "app/TrayStrings.h"
#include "compat/FileApi.h"
#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/Handle.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"
#include "url/Error.h"

namespace dwl
{
namespace
{
using namespace strings; // the tray window's own ids; the shared ones are dwl::IDS_*

std::wstring text(unsigned id)
{
    return loadString(id);
}

template <class... Args> std::wstring text(unsigned id, const Args&... args)
{
    return qcl::format(loadString(id), args...);
}

// A balloon's text: the string with its arguments, the first (the item's name) cut when the whole is too
// long.
std::wstring balloon(unsigned id, std::vector<std::wstring> arguments)
{
    return fitBalloonText(loadString(id), std::move(arguments), win32::NotifyIcon::maxBalloonText);
}

// The string with the reason (`withReason`) or, when there is none, `without`.
std::wstring balloonWithReason(unsigned withReason, unsigned without, const std::wstring& reason,
                               std::vector<std::wstring> arguments)
{
    if (reason.empty())
        return balloon(without, std::move(arguments));
    arguments.push_back(reason);
    return balloon(withReason, std::move(arguments));
}

std::wstring lastComponent(const std::wstring& path)
{
    const auto slash = path.find_last_of(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring parentFolderOf(const std::wstring& path)
{
    const auto slash = path.find_last_of(L'/');
    return slash == std::wstring::npos || slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::wstring parentPathOf(const Tree::Node& node, const Tree::Directory& share)
{
    return node.parent() ? node.parent()->getPath() : share.getPath();
}

std::wstring powerEventName(unsigned event)
{
    switch (event)
    {
    case 0:
        return L"PBT_APMQUERYSUSPEND (Request for permission to suspend)";
    case 2:
        return L"PBT_APMQUERYSUSPENDFAILED (Suspension request denied)";
    case 4:
        return L"PBT_APMSUSPEND (System is suspending operation)";
    case 6:
        return L"PBT_APMRESUMECRITICAL (Operation resuming after critical suspension)";
    case 7:
        return L"PBT_APMRESUMESUSPEND (Operation is resuming from a low-power state)";
    case 9:
        return L"PBT_APMBATTERYLOW (Battery power is low)";
    case 10:
        return L"PBT_APMPOWERSTATUSCHANGE (Power status has changed)";
    case 11:
        return L"PBT_APMOEMEVENT (OEM-defined event occurred)";
    case 18:
        return L"PBT_APMRESUMEAUTOMATIC (Operation is resuming automatically from a low-power state)";
    case 0x8013:
        return L"PBT_POWERSETTINGCHANGE (A power setting changed)";
    default:
        return std::to_wstring(event);
    }
}

bool isFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// How a failure that the engine reports once is known to go on (see CMainFrame::postFailureBalloon).
bool untilItSucceeds()
{
    return true;
}

bool isThere(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool cannotBeRead(const std::wstring& path)
{
    const qcl::Handle item(CreateFileW(path.c_str(), FILE_READ_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return item.get() == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
}

bool hasOtherNames(const std::wstring& path)
{
    const qcl::Handle item(CreateFileW(path.c_str(), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    return item.get() != INVALID_HANDLE_VALUE && GetFileInformationByHandle(item.get(), &information) &&
           information.nNumberOfLinks > 1;
}

bool isResume(unsigned event)
{
    return event == 2 || event == 6 || event == 7 || event == 18;
}

const std::wstring bannerLine(88, L'-');
const wchar_t* const openFailedDetails = L"No program of the desktop could open it.";
} // namespace

CMainFrame::CMainFrame(TrayEngine& engine, TrayDesktop& desktop, ui::NotificationArea& area,
                       app::RunnableQueue& queue, win32::Sleeper sleep, win32::Scheduler schedule)
    : mEngine(engine), mDesktop(desktop), mQueue(queue), mNotifyIcon(area, std::move(sleep), schedule),
      mSchedule(std::move(schedule))
{
    registerTrayStrings();
    mEngine.setCallback(this);
    mNotifyIcon.setOwner([this](unsigned command) { post([this, command] { OnCommand(command); }); });
    mNotifyIcon.setMoreProblemsText(
        [](unsigned count)
        { return count == 1 ? text(IDS_ONE_MORE_PROBLEM) : text(IDS_MORE_PROBLEMS, count); });
    mQueue.setFailureHandler(
        [this](const std::wstring& message)
        {
            mNotifyIcon.Hide();
            mExitCode = 1;
            showUnexpectedError(message);
            OnClose();
        });
}

CMainFrame::~CMainFrame()
{
    mQueue.close();
    try
    {
        mEngine.stop();
        mEngine.waitForUpgradeDownload();
    }
    catch (...)
    {
        QCL_LOG_ERROR(L"Cannot cleanly stop the application: " << qcl::currentExceptionMessage());
    }
    mEngine.setCallback(nullptr);
}

void CMainFrame::OnCreate()
{
    mMenu.items = {
        {ID_CONTEXTMENU_OPENWAYFOLDFOLDER, L"&Open Wayfold Folder", true},
        {ID_CONTEXTMENU_GOTOWEBSITE, L"Go To Wayfold &Website", true},
        {ID_CONTEXTMENU_ASSISTANCE, L"&Assistance", true},
        {ID_CONTEXTMENU_UNLINK, L"&Unlink", true},
        {ID_CONTEXTMENU_UPGRADE, L"No Update Available", false},
        {0, L"", true},
        {ID_CONTEXTMENU_EXIT, L"&Exit", true},
    };
    mMenu.defaultCommand = ID_CONTEXTMENU_OPENWAYFOLDFOLDER;
    mNotifyIcon.setContextMenu(mMenu);
    updateNotifyIcon();
    LoadConfigurationAndStart(false);
}

void CMainFrame::post(app::RunnableQueue::Runnable runnable)
{
    mQueue.post(std::move(runnable));
}

void CMainFrame::postClose()
{
    post([this] { OnClose(); });
}

void CMainFrame::OnCommand(unsigned command)
{
    switch (command)
    {
    case ID_CONTEXTMENU_EXIT:
        QCL_LOG_INFO(L"Menu > Exit");
        postClose();
        break;
    case ID_CONTEXTMENU_OPENWAYFOLDFOLDER:
        OnMenuOpenWayfoldFolder();
        break;
    case ID_CONTEXTMENU_GOTOWEBSITE:
        OnMenuGoToWayfoldWebSite();
        break;
    case ID_CONTEXTMENU_ASSISTANCE:
        OnMenuGoToSupport();
        break;
    case ID_CONTEXTMENU_UNLINK:
        OnMenuUnlink();
        break;
    case ID_CONTEXTMENU_UPGRADE:
        OnMenuUpgrade();
        break;
    default:
        break;
    }
}

void CMainFrame::OnClose()
{
    if (mClosing)
        return;
    mClosing = true;
    mQueue.close();
    try
    {
        mNotifyIcon.Hide();
        mEngine.stop();
        mEngine.waitForUpgradeDownload();
    }
    catch (...)
    {
        QCL_LOG_FATAL(L"Cannot cleanly stop the application: " << qcl::currentExceptionMessage());
        mExitCode = 1;
    }
    mIsDownloadingUpgrade = false;
    mIsSuspended = false;
    mDesktop.quit(mExitCode);
}

void CMainFrame::OnQueryEndSession()
{
    // The session manager gives no reason for the end.
    QCL_LOG_DEBUG(L"Received WM_QUERYENDSESSION message with logOff = 0");
}

void CMainFrame::OnEndSession(bool ending)
{
    QCL_LOG_DEBUG(L"Received WM_ENDSESSION message with ending = " << (ending ? L"TRUE" : L"FALSE")
                                                                   << L", logOff = 0");
    if (!ending || mClosing)
        return;
    QCL_LOG_INFO(bannerLine);
    QCL_LOG_INFO(L"- End of session for " << productBanner);
    QCL_LOG_INFO(bannerLine);
    OnClose();
}

void CMainFrame::OnPowerBroadcast(unsigned event)
{
    QCL_LOG_DEBUG(L"Received WM_POWERBROADCAST message with power event = " << powerEventName(event));
    if (event == PBT_APMSUSPEND && mEngine.isRunning())
    {
        QCL_LOG_INFO(L"Suspending the application because the system is going to sleep");
        // A download cut by the sleep starts again on wake.
        mResumeUpgradeDownload = mIsDownloadingUpgrade;
        cancelUpgradeDownload();
        mEngine.stop();
        mIsSuspended = true;
        QCL_LOG_INFO(L"Application suspended");
    }
    else if (isResume(event) && mIsSuspended)
    {
        QCL_LOG_INFO(L"Resuming the application because the system woke up");
        try
        {
            startEngine();
            QCL_LOG_INFO(L"Application resumed");
            if (mResumeUpgradeDownload)
                startUpgradeDownload();
        }
        catch (...)
        {
            // Nothing would synchronise from here on: say so and end, rather than sit in the tray doing
            // nothing.
            const std::wstring message = qcl::currentExceptionMessage();
            QCL_LOG_ERROR(L"Cannot resume the application: " << message);
            mNotifyIcon.Hide();
            mExitCode = 1;
            mDesktop.showError(
                L"Quillmere Wayfold could not resume after the computer woke up and has stopped "
                L"synchronising. Start it again to go on.",
                message);
            postClose();
        }
    }
    updateNotifyIcon();
}

void CMainFrame::LoadConfigurationAndStart(bool afterPasswordFailure)
{
    for (;;)
    {
        try
        {
            const bool configured = afterPasswordFailure ? mEngine.reenterPassword() : mEngine.initialise();
            listenForHandOver();
            if (mClosing)
                return;
            if (!configured)
            {
                postClose();
                return;
            }
            startEngine();
            updateNotifyIcon();
            if (!mNotifyIcon.isAdded())
                mNotifyIcon.AddIconToTaskbar();
            return;
        }
        catch (const Mediator::OtherInstanceAlreadyRunning& error)
        {
            QCL_LOG_INFO(error.what());
            if (!mDesktop.handOverToRunningInstance())
            {
                failToStart(L"Quillmere Wayfold is already running, but it did not answer. End it, or wait "
                            L"for it to answer, and start Quillmere Wayfold again.");
                return;
            }
            postClose();
            return;
        }
        catch (const StartFailure& failure)
        {
            failToStart(failure.message());
            return;
        }
        catch (const Mediator::MissingFolder& error)
        {
            listenForHandOver();
            QCL_LOG_ERROR(error.message());
            if (mClosing)
                return;
            if (!retryAfterMissingFolder(error.folder()))
                return;
        }
        catch (...)
        {
            failAndClose(qcl::currentExceptionMessage());
            return;
        }
    }
}

bool CMainFrame::retryAfterMissingFolder(const std::wstring& folder)
{
    switch (mDesktop.askAboutMissingFolder(folder))
    {
    case TrayDesktop::MissingFolderChoice::Retry:
        QCL_LOG_INFO(L"User chose to retry");
        return !mClosing;
    case TrayDesktop::MissingFolderChoice::Unlink:
        QCL_LOG_INFO(L"User chose to unlink");
        if (!mClosing)
            mEngine.unlink(); // its end configures and starts again
        return false;
    case TrayDesktop::MissingFolderChoice::Exit:
        QCL_LOG_INFO(L"User chose to exit");
        postClose();
        return false;
    }
    return false;
}

void CMainFrame::listenForHandOver()
{
    if (mListening)
        return;
    mListening = true;
    mDesktop.listenForHandOver();
}

void CMainFrame::OnMenuOpenWayfoldFolder()
{
    QCL_LOG_INFO(L"Menu > Open Wayfold Folder");
    if (mEngine.isRunning())
    {
        const std::wstring folder = mEngine.wayfoldFolder();
        QCL_LOG_DEBUG(L"Opening Wayfold Folder in Windows explorer: " << qcl::string::escaped(folder));
        if (!mDesktop.openPath(folder))
            mDesktop.showError(qcl::format(L"Cannot open folder '%1%'", folder), openFailedDetails);
    }
    else if (mConfigurationDialog)
    {
        QCL_LOG_TRACE(L"Bringing existing configuration dialog to the front");
        mDesktop.bringToFront(TrayDesktop::Dialog::Configuration);
    }
}

void CMainFrame::OnMenuGoToWayfoldWebSite()
{
    QCL_LOG_INFO(L"Menu > Go To Wayfold Website");
    if (mEngine.isRunning())
        LaunchWebBrowser(mEngine.serverBaseUrl());
}

void CMainFrame::OnMenuGoToSupport()
{
    QCL_LOG_INFO(L"Menu > Support");
    LaunchWebBrowser(supportSearchUrl());
}

void CMainFrame::OnMenuUnlink()
{
    QCL_LOG_INFO(L"Menu > Unlink");
    if (mUnlinkDialog)
    {
        QCL_LOG_TRACE(L"Bring the existing unlink confirmation dialog to the front");
        mDesktop.bringToFront(TrayDesktop::Dialog::Unlink);
        return;
    }
    bool confirmed = false;
    {
        mUnlinkDialog = true;
        qcl::scope::Guard clear([this] { mUnlinkDialog = false; });
        QCL_LOG_TRACE(L"Displaying unlink confirmation dialog...");
        confirmed = mDesktop.confirmUnlink();
    }
    if (mClosing)
        return;
    if (!confirmed)
    {
        QCL_LOG_TRACE(L"User dismissed unlink confirmation dialog");
        return;
    }
    QCL_LOG_INFO(L"User indicated that he wants to unlink");
    stopForRestart();
    mEngine.unlink();
}

void CMainFrame::OnMenuUpgrade()
{
    QCL_LOG_INFO(L"Menu > Upgrade");
    if (mIsDownloadingUpgrade || mUpgradeUrl.empty())
        return;
    // Downloaded already, and still there: it is shown again rather than downloaded once more.
    if (mDownloadedInstaller && mDownloadedInstaller->first == mNewVersion &&
        isFile(mDownloadedInstaller->second))
    {
        showInstallerFolder(mDownloadedInstaller->second);
        return;
    }
    startUpgradeDownload();
    if (mNotifyIcon.isAdded())
        mNotifyIcon.ShowBalloon(text(IDS_DOWNLOADING), text(IDS_APP_TITLE), ui::BalloonLevel::Information);
}

void CMainFrame::startUpgradeDownload()
{
    mResumeUpgradeDownload = false;
    ChangeUpgradeMenuItem(0);
    mIsDownloadingUpgrade = true;
    mDownloadingVersion = mNewVersion;
    mEngine.startUpgradeDownload(mUpgradeUrl);
}

void CMainFrame::cancelUpgradeDownload()
{
    // Its failure report, still to come, finds no download running and shows nothing.
    mEngine.waitForUpgradeDownload();
    if (mIsDownloadingUpgrade)
    {
        mIsDownloadingUpgrade = false;
        ChangeUpgradeMenuItem(std::nullopt);
    }
}

void CMainFrame::LaunchWebBrowser(const std::string& url)
{
    QCL_LOG_DEBUG(L"Launching Web Browser with URL " << qcl::string::escaped(url));
    if (!mDesktop.openUrl(url))
        mDesktop.showError(qcl::format(L"Cannot open URL '%1%'", url), openFailedDetails);
}

void CMainFrame::showUnexpectedError(const std::wstring& details)
{
    LaunchWebBrowser(supportAskUrl());
    mDesktop.showError(text(IDS_UNEXPECTED_ERROR), details);
}

void CMainFrame::failToStart(const std::wstring& message)
{
    mNotifyIcon.Hide();
    mExitCode = 1;
    mDesktop.showStartFailure(message);
    postClose();
}

void CMainFrame::failAndClose(const std::wstring& details)
{
    mNotifyIcon.Hide();
    mExitCode = 1;
    showUnexpectedError(details);
    postClose();
}

void CMainFrame::stopForRestart()
{
    mNotifyIcon.Hide();
    mEngine.stop();
    cancelUpgradeDownload();
    mIsSuspended = false;
}

void CMainFrame::startEngine()
{
    // The engine reports its server's availability and its synchronising afresh after every start, and only
    // when they change: it begins from "available, idle", and so does the icon.
    mIsServerAvailable = true;
    mIsSynchronising = false;
    mEngine.start();
    mIsSuspended = false;
}

void CMainFrame::postBalloon(const std::wstring& text, ui::BalloonLevel level)
{
    post(
        [this, text, level]
        {
            if (mNotifyIcon.isAdded())
                mNotifyIcon.ShowBalloon(text, loadString(IDS_APP_TITLE), level);
        });
}

void CMainFrame::postFailureBalloon(const std::wstring& path, const std::wstring& text,
                                    std::function<bool()> goesOn)
{
    post(
        [this, path, text, goesOn = std::move(goesOn)]
        {
            const std::pair key(path, text);
            if (!mNotifyIcon.isAdded() || mShownFailures.count(key) != 0)
                return;
            const unsigned showing = ++mFailuresShown;
            mShownFailures[key] = showing;
            mNotifyIcon.ShowBalloon(text, loadString(IDS_APP_TITLE), ui::BalloonLevel::Error);
            repeatFailure(key, showing, goesOn);
        });
}

void CMainFrame::repeatFailure(const std::pair<std::wstring, std::wstring>& key, unsigned showing,
                               const std::function<bool()>& goesOn)
{
    if (!mSchedule)
        return;
    mSchedule(kFailureRepeatTime,
              [this, key, showing, goesOn]
              {
                  // Unless the item succeeded meanwhile (and perhaps failed anew).
                  const auto shown = mShownFailures.find(key);
                  if (shown == mShownFailures.end() || shown->second != showing)
                      return;
                  if (!goesOn || !goesOn())
                  {
                      mShownFailures.erase(shown);
                      return;
                  }
                  if (mNotifyIcon.isAdded())
                      mNotifyIcon.ShowBalloon(key.second, loadString(IDS_APP_TITLE), ui::BalloonLevel::Error);
                  repeatFailure(key, showing, goesOn);
              });
}

void CMainFrame::postSuccess(const std::wstring& path)
{
    post(
        [this, path]
        {
            // The failure of the item, and of any folder it lies in: that folder is there and can be read.
            std::erase_if(mShownFailures,
                          [&](const auto& shown)
                          {
                              const std::wstring& failed = shown.first.first;
                              return failed == path ||
                                     (path.size() > failed.size() && path.starts_with(failed) &&
                                      path[failed.size()] == L'/');
                          });
        });
}

void CMainFrame::updateNotifyIcon()
{
    const bool online = mIsServerAvailable && !mIsSuspended;
    const std::wstring server = mEngine.serverDisplayName();
    const std::wstring status = online ? text(mIsSynchronising ? IDS_SYNCHRONISING : IDS_CONNECTED, server)
                                       : text(IDS_SERVER_UNAVAILABLE_STATUS, server);
    mNotifyIcon.setPicture(!online            ? ui::TrayPicture::Offline
                           : mIsSynchronising ? ui::TrayPicture::Synchronising
                                              : ui::TrayPicture::Online);
    mNotifyIcon.SetToolTip(
        qcl::format(L"%1% %2%\n%3%", text(IDS_APP_TITLE), programVersion.toWString(), status));
}

void CMainFrame::ChangeUpgradeMenuItem(std::optional<int> downloadPercent)
{
    ui::MenuItem* item = mMenu.find(ID_CONTEXTMENU_UPGRADE);
    if (!item)
        return;
    if (downloadPercent)
        *item = {ID_CONTEXTMENU_UPGRADE,
                 text(IDS_DOWNLOADING_PERCENT, static_cast<unsigned>(*downloadPercent)), false};
    else
        *item = {ID_CONTEXTMENU_UPGRADE, text(IDS_UPDATE_TO_VERSION, mNewVersion.toWString()), true};
    mNotifyIcon.setContextMenu(mMenu);
}

std::wstring CMainFrame::getReasonText(const std::error_code& code, const std::wstring& message)
{
    if (code.category() == serverErrorCategory() && code.value() >= 1 && code.value() <= 10)
        return text(IDS_SERVER_ERROR_REASON_BASE + static_cast<unsigned>(code.value()));
    if (message.empty() || message.back() == L'.')
        return message;
    return message + L".";
}

// Worker notifications: copy what is shown, then hand it to the main thread.

void CMainFrame::onFileTooBig(const std::wstring& path, std::uint64_t size, std::uint64_t maximumSize)
{
    QCL_LOG_INFO(L"File '" << qcl::string::escaped(path) << L"' is too big to be uploaded: its size (" << size
                           << L" bytes) exceeds the maximum uploadable size (" << maximumSize << L" bytes)");
    postFailureBalloon(path,
                       balloon(IDS_FILE_TOO_BIG, {lastComponent(path), qcl::formatByteCount(maximumSize)}));
}

void CMainFrame::onServerUnavailable(const url::Error&)
{
    post(
        [this]
        {
            mIsServerAvailable = false;
            updateNotifyIcon();
        });
    postBalloon(text(IDS_SERVER_UNAVAILABLE), ui::BalloonLevel::Warning);
}

void CMainFrame::onServerAvailable()
{
    post(
        [this]
        {
            mIsServerAvailable = true;
            updateNotifyIcon();
        });
    postBalloon(text(IDS_SERVER_AVAILABLE), ui::BalloonLevel::Information);
}

void CMainFrame::setSynchronising(bool synchronising)
{
    post(
        [this, synchronising]
        {
            mIsSynchronising = synchronising;
            updateNotifyIcon();
        });
}

void CMainFrame::onThreadError(qcl::NamedThread& thread)
{
    if (!std::current_exception())
        return;
    try
    {
        throw;
    }
    catch (const url::HttpAuthenticationError&)
    {
        post(
            [this]
            {
                stopForRestart();
                LoadConfigurationAndStart(true);
            });
    }
    catch (const url::NotAcceptableError&)
    {
        post(
            [this]
            {
                mNotifyIcon.Hide();
                mExitCode = 1;
                mDesktop.showError(text(IDS_OLD_VERSION), text(IDS_PLEASE_UPGRADE));
                const std::string downloads = mEngine.downloadsUrl();
                if (!downloads.empty())
                    LaunchWebBrowser(downloads);
                postClose();
            });
    }
    catch (...)
    {
        const std::wstring message =
            qcl::format(L"Error in thread '%1%': %2%", thread.name(), qcl::currentExceptionMessage());
        post([this, message] { failAndClose(message); });
    }
}

void CMainFrame::onDocumentDownloaded(const Tree::File& file, const Tree::Directory& share)
{
    postSuccess(file.getPath());
    postBalloon(balloon(IDS_DOCUMENT_DOWNLOADED, {file.name(), parentPathOf(file, share)}),
                ui::BalloonLevel::Information);
}

void CMainFrame::onDocumentDownloadFailed(const std::wstring& name, const std::wstring& folderPath,
                                          const std::wstring& reason)
{
    postFailureBalloon(Tree::Node::joinPath(folderPath, name),
                       balloonWithReason(IDS_DOCUMENT_DOWNLOAD_FAILED_BECAUSE, IDS_DOCUMENT_DOWNLOAD_FAILED,
                                         reason, {name, folderPath}),
                       untilItSucceeds);
}

void CMainFrame::onFolderDownloadFailed(const std::wstring& name, const std::wstring& parentPath,
                                        const std::wstring& reason)
{
    postFailureBalloon(Tree::Node::joinPath(parentPath, name),
                       balloonWithReason(IDS_FOLDER_DOWNLOAD_FAILED_BECAUSE, IDS_FOLDER_DOWNLOAD_FAILED,
                                         reason, {name, parentPath}),
                       untilItSucceeds);
}

void CMainFrame::onLocalRemovalFailed(const Tree::Node& node, const Tree::Directory& share,
                                      const std::wstring&)
{
    const std::wstring text = &node == &share ? balloon(IDS_SHARE_REMOVAL_FAILED, {share.name()})
                                              : balloon(node.asDirectory() ? IDS_FOLDER_REMOVAL_FAILED
                                                                           : IDS_DOCUMENT_REMOVAL_FAILED,
                                                        {node.name(), share.name()});
    const std::wstring path = node.getPath();
    postFailureBalloon(path, text, [path] { return isThere(path); });
}

void CMainFrame::onLocalUpdateBlocked(const Tree::Node& node, const Tree::Directory& share,
                                      const std::wstring& reason)
{
    // Without a cause, another program has the item open.
    const std::wstring text =
        &node == &share ? balloonWithReason(IDS_SHARE_UPDATE_BLOCKED_BECAUSE, IDS_SHARE_UPDATE_BLOCKED,
                                            reason, {share.name()})
                        : balloonWithReason(IDS_NODE_UPDATE_BLOCKED_BECAUSE, IDS_NODE_UPDATE_BLOCKED, reason,
                                            {node.name(), share.name()});
    postFailureBalloon(node.getPath(), text, untilItSucceeds);
}

void CMainFrame::onDocumentCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                          const std::error_code& code, const std::wstring& message)
{
    postFailureBalloon(path,
                       balloonWithReason(IDS_DOCUMENT_CREATION_FAILED, IDS_DOCUMENT_CREATION_FAILED + 1,
                                         getReasonText(code, message), {lastComponent(path), share.name()}));
}

void CMainFrame::onFolderCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                        const std::error_code& code, const std::wstring& message)
{
    postFailureBalloon(path,
                       balloonWithReason(IDS_FOLDER_CREATION_FAILED, IDS_FOLDER_CREATION_FAILED + 1,
                                         getReasonText(code, message), {lastComponent(path), share.name()}));
}

void CMainFrame::onShareCreationFailed(const std::wstring& path, const std::error_code& code,
                                       const std::wstring& message)
{
    postFailureBalloon(path, balloonWithReason(IDS_SHARE_CREATION_FAILED, IDS_SHARE_CREATION_FAILED + 1,
                                               getReasonText(code, message), {lastComponent(path)}));
}

void CMainFrame::onDocumentUploadFailed(const Tree::File& file, const Tree::Directory& share,
                                        const std::error_code& code, const std::wstring& message)
{
    postFailureBalloon(file.getPath(),
                       balloonWithReason(IDS_DOCUMENT_UPLOAD_FAILED, IDS_DOCUMENT_UPLOAD_FAILED + 1,
                                         getReasonText(code, message), {file.name(), share.name()}));
}

void CMainFrame::onDocumentUploaded(const Tree::File& file, const Tree::Directory&)
{
    postSuccess(file.getPath());
}

void CMainFrame::onItemUnreadable(const Tree::Node& item, const Tree::Directory& share, const std::wstring& reason)
{
    const std::wstring path = item.getPath();
    postFailureBalloon(path,
                       balloon(item.asDirectory() ? IDS_FOLDER_UNREADABLE : IDS_DOCUMENT_UNREADABLE,
                               {item.name(), share.name(), reason}),
                       [path] { return cannotBeRead(path); });
}

void CMainFrame::onOtherName(const Tree::File& name, const Tree::Directory& share, const std::wstring& syncedPath)
{
    const std::wstring path = name.getPath();
    postFailureBalloon(path, balloon(IDS_OTHER_NAME, {name.name(), share.name(), syncedPath}),
                       [path] { return hasOtherNames(path); });
}

void CMainFrame::onWayfoldFolderMissing(const std::wstring& folder)
{
    post(
        [this, folder]
        {
            stopForRestart();
            if (retryAfterMissingFolder(folder))
                LoadConfigurationAndStart(false);
        });
}

void CMainFrame::onUnlinkCompleted()
{
    post(
        [this]
        {
            mEngine.onDeviceUnregistered();
            mEngine.clearDatabaseAndConfiguration();
            LoadConfigurationAndStart(false);
        });
}

bool CMainFrame::runConfigurationDialog(Configuration& configuration, WayfoldApi& api,
                                        const ServerList& servers, bool passwordOnly)
{
    listenForHandOver();
    mConfigurationDialog = true;
    qcl::scope::Guard clear([this] { mConfigurationDialog = false; });
    return mDesktop.editConfiguration(configuration, api, servers, passwordOnly);
}

bool CMainFrame::editConfiguration(Configuration& configuration, WayfoldApi& api, const ServerList& servers)
{
    QCL_LOG_INFO(L"Displaying configuration dialog...");
    if (!runConfigurationDialog(configuration, api, servers, false))
    {
        QCL_LOG_INFO(L"User dismissed configuration dialog");
        return false;
    }
    QCL_LOG_INFO(L"User correctly configured application");
    const std::wstring folder = Paths::wayfoldFolder(configuration.wayfoldFolderLocation);
    QCL_LOG_TRACE(L"Opening Wayfold Folder in Windows explorer: " << qcl::string::escaped(folder));
    mDesktop.openPath(folder);
    return true;
}

bool CMainFrame::editPassword(Configuration& configuration, WayfoldApi& api, const ServerList& servers)
{
    QCL_LOG_INFO(L"Displaying password dialog...");
    if (!runConfigurationDialog(configuration, api, servers, true))
    {
        QCL_LOG_INFO(L"User dismissed password dialog");
        return false;
    }
    QCL_LOG_INFO(L"User correctly entered password");
    return true;
}

void CMainFrame::createWayfoldShortcutInFavorites(const std::wstring& folder)
{
    try
    {
        mDesktop.addFolderBookmark(folder);
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        QCL_LOG_ERROR(L"Cannot create link '" << qcl::string::escaped(folder) << L"': " << error.message());
    }
}

void CMainFrame::onNewVersionAvailable(const Version& version, const std::string& installerUrl)
{
    post(
        [this, version, installerUrl]
        {
            mNewVersion = version;
            mUpgradeUrl = installerUrl;
            if (mIsDownloadingUpgrade)
                return;
            ChangeUpgradeMenuItem(std::nullopt);
            // The checker offers it again at every check and after every wake; the user hears of it once.
            if (mNotifyIcon.isAdded() && mOfferedVersions.insert(version).second)
                mNotifyIcon.ShowBalloon(text(IDS_NEW_VERSION), text(IDS_APP_TITLE),
                                        ui::BalloonLevel::Information);
        });
}

void CMainFrame::onUpgradeDownloadProgress(int percent)
{
    post(
        [this, percent]
        {
            if (mIsDownloadingUpgrade)
                ChangeUpgradeMenuItem(percent);
        });
}

void CMainFrame::onUpgradeDownloadFinished(const std::wstring& installerPath)
{
    QCL_LOG_INFO(L"An upgrade installer has been downloaded and is ready to be installed");
    post([this, installerPath] { showUpgradeInstaller(installerPath); });
}

void CMainFrame::showUpgradeInstaller(const std::wstring& installerPath)
{
    mEngine.waitForUpgradeDownload();
    mIsDownloadingUpgrade = false;
    mDownloadedInstaller.emplace(mDownloadingVersion, installerPath);
    ChangeUpgradeMenuItem(std::nullopt);
    showInstallerFolder(installerPath);
    if (mNotifyIcon.isAdded())
        mNotifyIcon.ShowBalloon(
            balloon(IDS_UPGRADE_DOWNLOADED, {installerPath, mDownloadingVersion.toWString()}),
            text(IDS_APP_TITLE), ui::BalloonLevel::Information);
}

void CMainFrame::showInstallerFolder(const std::wstring& installerPath)
{
    // The file is neither run nor handed to an opener (which would pick a program by the file's content, so
    // the server would choose what runs): the user finds it in its folder and installs it, and this program
    // runs on meanwhile.
    const std::wstring folder = parentFolderOf(installerPath);
    QCL_LOG_INFO(L"Showing the folder of upgrade installer '" << qcl::string::escaped(installerPath) << L"'");
    if (!mDesktop.openPath(folder))
        QCL_LOG_WARN(L"Cannot open folder " << qcl::string::escaped(folder, L'\''));
}

void CMainFrame::onUpgradeDownloadFailed(const std::wstring& reason)
{
    post(
        [this, reason]
        {
            if (!mIsDownloadingUpgrade)
                return; // ended on purpose (sleep, unlink, password): nothing went wrong
            mEngine.waitForUpgradeDownload();
            mIsDownloadingUpgrade = false;
            ChangeUpgradeMenuItem(std::nullopt);
            if (mNotifyIcon.isAdded())
                mNotifyIcon.ShowBalloon(balloonWithReason(IDS_UPGRADE_FAILED_BECAUSE, IDS_UPGRADE_FAILED,
                                                          getReasonText({}, reason), {}),
                                        text(IDS_APP_TITLE), ui::BalloonLevel::Error);
        });
}
} // namespace dwl
