#pragma once
// The tray window: the program's hidden main window. It owns the notification icon, drives the engine (start,
// stop, sleep and wake, password re-entry, unlink, end of session), runs the context menu's commands, and
// shows what the worker threads report. Workers never touch it directly: each report becomes a runnable that
// the main thread runs in post order.

#include "app/NotifyIcon.h"
#include "app/RunnableQueue.h"
#include "app/TrayDesktop.h"

#include <map>
#include <set>
#include <string>
#include <system_error>
#include <utility>

namespace dwl
{
// Context menu commands.
inline constexpr unsigned ID_CONTEXTMENU_EXIT = 0x8007;
inline constexpr unsigned ID_CONTEXTMENU_OPENWAYFOLDFOLDER = 0x8008;
inline constexpr unsigned ID_CONTEXTMENU_GOTOWEBSITE = 0x8009;
inline constexpr unsigned ID_CONTEXTMENU_ASSISTANCE = 0x800a;
inline constexpr unsigned ID_CONTEXTMENU_UNLINK = 0x800b;
inline constexpr unsigned ID_CONTEXTMENU_UPGRADE = 0x800c;

// Power events, as the power manager reports them.
inline constexpr unsigned PBT_APMSUSPEND = 4;
inline constexpr unsigned PBT_APMRESUMESUSPEND = 7;

inline constexpr Version programVersion{1, 13, 0};
inline constexpr const char* userAgent = "Quillmere Wayfold For Windows/1.13.0.761";
inline constexpr const wchar_t* productBanner = L"Quillmere Wayfold For Windows 1.13.0.761";

class CMainFrame : public Mediator::Callback
{
public:
    // A failure shown is not shown again for this long, however often it is reported; then it comes back
    // while it goes on, so that one that was missed is seen: when the engine reports it again, or, for one
    // the engine reports only once, by itself.
    static constexpr std::chrono::hours kFailureRepeatTime{1};

    // `schedule` times the balloons (see NotifyIcon and kFailureRepeatTime); without one a failure is shown
    // once until its item succeeds.
    CMainFrame(TrayEngine& engine, TrayDesktop& desktop, ui::NotificationArea& area,
               app::RunnableQueue& queue, win32::Sleeper sleep = {}, win32::Scheduler schedule = {});
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Builds the menu and loads the configuration; what the window's creation does.
    void OnCreate();

    // Input from the desktop, on the main thread.
    void OnCommand(unsigned command);
    // The desktop session asks whether it may end: it may.
    void OnQueryEndSession();
    void OnEndSession(bool ending);
    void OnPowerBroadcast(unsigned event);
    void OnClose();
    win32::NotifyIcon& notifyIcon() { return mNotifyIcon; }

    // Hands work to the main thread: the runnable runs there, in post order, unless the close has begun.
    void post(app::RunnableQueue::Runnable runnable);
    void postClose();

    // The reason shown after a refusal: the fixed text of a server error code 1 to 10, else the message with
    // a final ".", else nothing.
    static std::wstring getReasonText(const std::error_code& code, const std::wstring& message);

    // Mediator::Callback
    void onFileTooBig(const std::wstring& path, std::uint64_t size, std::uint64_t maximumSize) override;
    void onServerUnavailable(const url::Error& error) override;
    void onServerAvailable() override;
    void setSynchronising(bool synchronising) override;
    void onThreadError(qcl::NamedThread& thread) override;
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
    void onWayfoldFolderMissing(const std::wstring& folder) override;
    void onUnlinkCompleted() override;
    bool editConfiguration(Configuration& configuration, WayfoldApi& api, const ServerList& servers) override;
    bool editPassword(Configuration& configuration, WayfoldApi& api, const ServerList& servers) override;
    void createWayfoldShortcutInFavorites(const std::wstring& folder) override;
    void onNewVersionAvailable(const Version& version, const std::string& installerUrl) override;
    void onUpgradeDownloadProgress(int percent) override;
    void onUpgradeDownloadFinished(const std::wstring& installerPath) override;
    void onUpgradeDownloadFailed(const std::wstring& reason) override;

private:
    void LoadConfigurationAndStart(bool afterPasswordFailure);
    void OnMenuOpenWayfoldFolder();
    void OnMenuGoToWayfoldWebSite();
    void OnMenuGoToSupport();
    void OnMenuUnlink();
    void OnMenuUpgrade();
    void LaunchWebBrowser(const std::string& url);
    void showUnexpectedError(const std::wstring& text);
    void failAndClose(const std::wstring& text);
    // The program cannot start for a reason the user can mend: said plainly, and the program ends with 1.
    void failToStart(const std::wstring& message);
    void stopForRestart();
    void postBalloon(const std::wstring& text, ui::BalloonLevel level);
    // A failure of the item at `path`: shown again only after kFailureRepeatTime, or after the item succeeded
    // (postSuccess), however often the engine reports it. Without `goesOn` the engine reports the failure
    // again while it goes on; with it the engine reports it once, and the failure is shown again each
    // kFailureRepeatTime for as long as `goesOn` (run then, on the main thread) says it goes on, until the
    // item or an item inside it succeeds, or the program ends.
    void postFailureBalloon(const std::wstring& path, const std::wstring& text,
                            std::function<bool()> goesOn = {});
    void repeatFailure(const std::pair<std::wstring, std::wstring>& key, unsigned showing,
                       const std::function<bool()>& goesOn);
    void postSuccess(const std::wstring& path);
    void startEngine();
    void startUpgradeDownload();
    // Ends a download in progress on purpose: no failure is shown for it.
    void cancelUpgradeDownload();
    void updateNotifyIcon();
    void ChangeUpgradeMenuItem(std::optional<int> downloadPercent);
    void showUpgradeInstaller(const std::wstring& installerPath);
    void showInstallerFolder(const std::wstring& installerPath);
    bool runConfigurationDialog(Configuration& configuration, WayfoldApi& api, const ServerList& servers,
                                bool passwordOnly);
    void listenForHandOver();
    // Runs the missing-folder dialog: true when the user wants the start tried again.
    bool retryAfterMissingFolder(const std::wstring& folder);

    TrayEngine& mEngine;
    TrayDesktop& mDesktop;
    app::RunnableQueue& mQueue;
    win32::NotifyIcon mNotifyIcon;
    ui::ContextMenu mMenu;
    bool mConfigurationDialog = false;
    bool mUnlinkDialog = false;
    bool mIsDownloadingUpgrade = false;
    bool mResumeUpgradeDownload = false; // a download was cut by sleep
    Version mNewVersion;
    Version mDownloadingVersion;
    std::optional<std::pair<Version, std::wstring>> mDownloadedInstaller; // this run's, with its version
    std::set<Version> mOfferedVersions;                                   // shown in a balloon this run
    // Failures shown within kFailureRepeatTime, by item path and text, each with the number of its showing.
    std::map<std::pair<std::wstring, std::wstring>, unsigned> mShownFailures;
    unsigned mFailuresShown = 0;
    win32::Scheduler mSchedule;
    std::string mUpgradeUrl;
    bool mIsServerAvailable = false;
    bool mIsSynchronising = false;
    bool mIsSuspended = false;
    bool mClosing = false;
    bool mListening = false;
    int mExitCode = 0;
};
} // namespace dwl
