#pragma once
// The worker thread "Upgrade Checker": after a first delay, and then at the polling interval, asks the
// server's upgrade information which client version it offers, and calls its handler when that version is
// newer than the running one. A failed check is tried again after the retry interval.

#include "app/Version.h"
#include "qcl/Thread.h"
#include "url/Session.h"

#include <chrono>
#include <functional>
#include <string>

namespace dwl
{
class UpgradeChecker : public qcl::InterruptibleThread
{
public:
    // The offered version and the installer's address; called on the checker's thread.
    using NewVersionHandler = std::function<void(const Version& offered, const std::string& installerUrl)>;

    // What the upgrade information offers: the version and, when it is newer than the running one, the
    // installer's address.
    struct Offer
    {
        Version version;
        std::string installerUrl;
    };
    // Reads the answer {"version": [major, minor, patch], "url": "..."}; "url" is read only when the version
    // is newer. Throws the JSON library's errors.
    static Offer readUpgradeInfo(const std::string& answer, const Version& running);

    UpgradeChecker();
    // Stops the thread first, so that it never outlives the session it uses.
    ~UpgradeChecker() override;

    // Settings, in place before start. An empty address ends the thread at once; a polling interval of 0
    // checks once; a retry interval of 0 waits the polling interval after a failed check too.
    void setUpgradeInfoUrl(std::string url) { mUpgradeInfoUrl = std::move(url); }
    void setDelayBeforeCheck(std::chrono::milliseconds delay) { mDelay = delay; }
    void setPollingInterval(std::chrono::milliseconds interval) { mPollingInterval = interval; }
    void setRetryInterval(std::chrono::milliseconds interval) { mRetryInterval = interval; }
    void setNewVersionHandler(NewVersionHandler handler) { mNewVersionHandler = std::move(handler); }
    void setCurrentVersion(const Version& version) { mCurrentVersion = version; }
    const Version& currentVersion() const { return mCurrentVersion; }

    // For the owners' lasting settings: user agent, proxy, certificate checking.
    url::Session& session() { return mSession; }

    // Any thread but the checker's: aborts a check in progress, stops and joins the thread, clears the stop
    // request. The checker can be started again afterwards.
    void stop();

private:
    void run() override;
    // Whether the check succeeded; failures of the check itself are logged and swallowed.
    bool checkForUpgrade();
    void wait(std::chrono::milliseconds duration, const char* again);

    std::string mUpgradeInfoUrl;
    std::chrono::milliseconds mDelay{0};
    std::chrono::milliseconds mPollingInterval{0};
    std::chrono::milliseconds mRetryInterval{0};
    NewVersionHandler mNewVersionHandler;
    url::initialiseLibCurl mCurl;
    url::Session mSession;
    Version mCurrentVersion;
};
} // namespace dwl
