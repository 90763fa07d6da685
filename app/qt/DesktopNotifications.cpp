#include "app/qt/DesktopNotifications.h"

#include "app/DesktopName.h"
#include "app/qt/Text.h"
#include "qcl/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>

namespace dwl::qt
{
namespace
{
const char* const notificationsService = "org.freedesktop.Notifications";
const char* const notificationsPath = "/org/freedesktop/Notifications";
// Nothing waits for an answer; this only says when a balloon goes to the fallback instead.
constexpr std::chrono::milliseconds defaultCallTimeout{5000};
constexpr std::chrono::milliseconds defaultRetryInterval{60000};
constexpr int serviceDefaultTimeout = -1;

// The freedesktop.org icon of each level.
const char* levelIconName(ui::BalloonLevel level)
{
    switch (level)
    {
    case ui::BalloonLevel::Error:
        return "dialog-error";
    case ui::BalloonLevel::Warning:
        return "dialog-warning";
    default:
        return "dialog-information";
    }
}

QDBusMessage methodCall(const char* method)
{
    return QDBusMessage::createMethodCall(notificationsService, notificationsPath, notificationsService,
                                          method);
}
} // namespace

DesktopNotifications::DesktopNotifications(std::function<void(const Balloon&)> fallback)
    : mBus(QDBusConnection::sessionBus()), mFallback(std::move(fallback)), mCallTimeout(defaultCallTimeout)
{
    mRetry.setSingleShot(true);
    setRetryInterval(defaultRetryInterval);
    connect(&mRetry, &QTimer::timeout, this,
            [this]
            {
                if (mService == Service::Silent)
                    askCapabilities();
            });
    if (!mBus.isConnected())
        return;
    mWatcher.setConnection(mBus);
    mWatcher.addWatchedService(notificationsService);
    mWatcher.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    connect(&mWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) { onOwnerChanged(newOwner); });
}

void DesktopNotifications::setRetryInterval(std::chrono::milliseconds interval)
{
    mRetry.setInterval(static_cast<int>(interval.count()));
}

bool DesktopNotifications::show(const Balloon& balloon)
{
    if (!mBus.isConnected() || mService == Service::Silent)
        return false;
    // One slot: a balloon not yet sent gives way to the newer one, as it would on the screen.
    mWaiting = balloon;
    if (mService == Service::Unknown)
        askCapabilities();
    else if (mService == Service::Present)
        sendWaiting();
    return true;
}

void DesktopNotifications::call(const QDBusMessage& message,
                                std::function<void(const QDBusMessage& answer)> onAnswer)
{
    auto* watcher =
        new QDBusPendingCallWatcher(mBus.asyncCall(message, static_cast<int>(mCallTimeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, owner = mOwnerChanges, onAnswer = std::move(onAnswer)](QDBusPendingCallWatcher* finished)
            {
                finished->deleteLater();
                if (owner == mOwnerChanges)
                    onAnswer(finished->reply());
            });
}

void DesktopNotifications::askCapabilities()
{
    mService = Service::Asking;
    call(methodCall("GetCapabilities"),
         [this](const QDBusMessage& answer)
         {
             if (answer.type() != QDBusMessage::ReplyMessage)
             {
                 onSilence(answer.errorName());
                 return;
             }
             mMarkup = !answer.arguments().isEmpty() &&
                       answer.arguments().first().toStringList().contains("body-markup");
             mService = Service::Present;
             if (std::exchange(mSilenceLogged, false))
                 QCL_LOG_INFO(L"The desktop notification service answers again: balloons go to it");
             sendWaiting();
         });
}

void DesktopNotifications::sendWaiting()
{
    if (!mWaiting || mSending)
        return;
    mSending = std::exchange(mWaiting, std::nullopt);
    const Balloon& balloon = *mSending;
    // Normal urgency whatever the level: a service keeps a critical notification until it is dismissed, and
    // a balloon's level is only its look, given by its icon. A service that understands markup in the body is
    // given the text escaped, so that it shows as written.
    const QVariantMap hints{{"urgency", QVariant::fromValue<uchar>(1)},
                            {"desktop-entry", QString::fromLatin1(desktopName)}};
    QDBusMessage notify = methodCall("Notify");
    notify.setArguments({QString("Wayfold"), mNotificationId, QString(levelIconName(balloon.level)),
                         balloon.title, mMarkup ? balloon.body.toHtmlEscaped() : balloon.body, QStringList(),
                         hints, serviceDefaultTimeout});
    call(notify,
         [this](const QDBusMessage& answer)
         {
             if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
             {
                 onSilence(answer.errorName());
                 return;
             }
             mSending.reset();
             mNotificationId = answer.arguments().first().toUInt();
             sendWaiting();
         });
}

void DesktopNotifications::onSilence(const QString& error)
{
    if (!std::exchange(mSilenceLogged, true))
        QCL_LOG_INFO(L"No desktop notification service answered in time ("
                     << toWString(error) << L"): balloons go to the tray icon until one answers");
    mService = Service::Silent;
    for (std::optional<Balloon>* balloon : {&mSending, &mWaiting})
        if (*balloon)
            mFallback(*std::exchange(*balloon, std::nullopt));
    mRetry.start();
}

void DesktopNotifications::onOwnerChanged(const QString& newOwner)
{
    // Another program (or none) is the service now: it knows no notification of ours and may understand other
    // things. What was on its way to the old one is not waited for.
    ++mOwnerChanges;
    if (mSending && !mWaiting)
        mWaiting = mSending; // perhaps never shown: the new one gets it
    mSending.reset();
    mNotificationId = 0;
    mService = Service::Unknown;
    mRetry.stop();
    if (!newOwner.isEmpty() || mWaiting)
        askCapabilities();
}
} // namespace dwl::qt
