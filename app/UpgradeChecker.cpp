#include "app/UpgradeChecker.h"

#include "json_spirit/Reader.h"
#include "json_spirit/Value.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace dwl
{
namespace
{
// The upgrade information is a version and an address: anything much longer is not the upgrade information.
constexpr std::size_t kMaximumAnswerSize = 64 * 1024;

bool isHttps(const std::string& url)
{
    return url.size() >= 8 &&
           std::equal(url.begin(), url.begin() + 8, "https://",
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

double seconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

std::int64_t wholeSeconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
}
} // namespace

UpgradeChecker::UpgradeChecker() : qcl::InterruptibleThread(L"Upgrade Checker") {}

UpgradeChecker::~UpgradeChecker()
{
    try
    {
        stop();
    }
    catch (...)
    {
        QCL_LOG_ERROR(L"Cannot stop the upgrade checker: " << qcl::currentExceptionMessage());
    }
}

void UpgradeChecker::stop()
{
    qcl::scope::Guard allowSockets([this] { mSession.setMustCloseSocket(false); });
    mSession.setMustCloseSocket(true);
    qcl::InterruptibleThread::stop();
}

void UpgradeChecker::run()
{
    if (mUpgradeInfoUrl.empty())
    {
        QCL_LOG_INFO(L"Upgrade info URL has not been specified. There will be no automatic upgrade.");
        return;
    }
    wait(mDelay, "");
    for (;;)
    {
        std::chrono::milliseconds next = mPollingInterval;
        if (!checkForUpgrade() && mRetryInterval.count() != 0)
            next = mRetryInterval;
        if (next.count() == 0)
        {
            QCL_LOG_INFO(L"No repetition of the upgrade check is configured. Stopping upgrade checker.");
            return;
        }
        wait(next, " again");
    }
}

UpgradeChecker::Offer UpgradeChecker::readUpgradeInfo(const std::string& answer, const Version& running)
{
    const json_spirit::Value info = json_spirit::parse(answer);
    Offer offer{Version::fromJson(info["version"]), {}};
    if (running < offer.version)
        offer.installerUrl = info["url"].getString();
    return offer;
}

bool UpgradeChecker::checkForUpgrade()
{
    try
    {
        QCL_LOG_INFO(L"Checking if there is a software upgrade available...");
        std::string answer;
        mSession.setWriter(url::StringWriter(&answer, kMaximumAnswerSize));
        mSession.setUrl(mUpgradeInfoUrl);
        QCL_LOG_TRACE(L">>> HTTP GET " << qcl::string::escaped(mUpgradeInfoUrl));
        mSession.perform();

        const Offer offer = readUpgradeInfo(answer, mCurrentVersion);
        QCL_LOG_TRACE(L"<<< Upgrade version available on server = " << offer.version.toWString());
        if (mCurrentVersion < offer.version)
        {
            // What came over TLS is fetched over TLS: an installer in clear could be replaced on the way.
            if (isHttps(mUpgradeInfoUrl) && !isHttps(offer.installerUrl))
                throw qcl::basic_runtime_error<wchar_t>(qcl::format(
                    L"The upgrade information from an https address names a plain installer address "
                    L"'%1%'",
                    offer.installerUrl));
            QCL_LOG_INFO(L"There is an upgrade to version "
                         << offer.version.toWString() << L" available at "
                         << qcl::string::escaped(offer.installerUrl, L'\''));
            mNewVersionHandler(offer.version, offer.installerUrl);
        }
        else
            QCL_LOG_INFO(L"The currently available upgrade version "
                         << offer.version.toWString() << L" in no more recent than the current client "
                         << mCurrentVersion.toWString());
        return true;
    }
    catch (const std::runtime_error&)
    {
        QCL_LOG_ERROR(L"!!! Cannot check for upgrade: " << qcl::currentExceptionMessage());
        return false;
    }
}

void UpgradeChecker::wait(std::chrono::milliseconds duration, const char* again)
{
    QCL_LOG_TRACE(L">>> Waiting for " << seconds(duration) << L" seconds before checking for upgrade" << again
                                      << L"...");
    const auto start = std::chrono::steady_clock::now();
    {
        std::unique_lock lock(mMutex);
        mCondition.wait_for(lock, duration, [this] { return isInterrupted(); });
    }
    checkInterruption();
    QCL_LOG_TRACE(L"<<< Woke up after " << wholeSeconds(std::chrono::steady_clock::now() - start)
                                        << L" seconds to check for upgrade");
}
} // namespace dwl
