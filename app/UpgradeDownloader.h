#pragma once
// Downloads the installer of a newer version into a new private folder under the user's cache folder, on a
// task of its own, and reports the progress (in whole percent), then the installer's path or the failure.

#include "url/Session.h"

#include <cstdint>
#include <future>
#include <string>

namespace dwl
{
class UpgradeDownloader
{
public:
    // Called on the download task's thread.
    class Callback
    {
    public:
        // Only when the whole percentage changed since the last report.
        virtual void onUpgradeDownloadProgress(int percent) = 0;
        virtual void onUpgradeDownloadFinished(const std::wstring& installerPath) = 0;
        // `reason`: the system's text, or the text of the check that refused the answer.
        virtual void onUpgradeDownloadFailed(const std::wstring& reason) = 0;

    protected:
        ~Callback() = default;
    };

    // The installer is the body of a 200 answer, at most this long, whose end is certain: it has exactly its
    // announced length, or, without one, the answer marks its end (chunked, or HTTP/2 and later), so a cut
    // one fails. A transfer that stalls ends by the session's low-speed rule; there is no overall time limit,
    // so a slow link still updates.
    static constexpr std::uint64_t kMaximumInstallerSize = std::uint64_t(512) << 20;

    UpgradeDownloader();
    // Aborts and waits for a download in progress.
    ~UpgradeDownloader();
    UpgradeDownloader(const UpgradeDownloader&) = delete;
    UpgradeDownloader& operator=(const UpgradeDownloader&) = delete;

    // Settings, in place before start. The address must be http or https, and so must every redirect; one
    // from https goes to https only.
    void setUrl(std::string url) { mUrl = std::move(url); }
    // The installer's name when the address does not end in a plain file name (see installerFileName).
    void setInstallerFileName(std::wstring name) { mInstallerFileName = std::move(name); }
    void setCallback(Callback* callback) { mCallback = callback; }

    // For the owners' lasting settings: user agent, proxy, certificate checking.
    url::Session& session() { return mSession; }

    // Main thread: starts the download task. No download may be in progress.
    void start();
    // Main thread: returns at once when no download runs; otherwise aborts the transfer and waits for the
    // task, which then reports the failure.
    void wait();
    // Whether a started download has not yet ended.
    bool isRunning() const;

private:
    // The task: downloads, then reports.
    void download();
    // The installer's path; throws when the download failed (the folder is removed).
    std::wstring downloadInstaller();
    void onProgress(double total, double now);

    url::initialiseLibCurl mCurl;
    url::Session mSession;
    std::string mUrl;
    std::wstring mInstallerFileName;
    Callback* mCallback = nullptr;
    int mLastPercent = -1;
    std::future<void> mTask;
};
} // namespace dwl
