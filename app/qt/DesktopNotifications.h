#pragma once
// Balloons as notifications of the desktop's notification service (org.freedesktop.Notifications) on the
// session bus, each in place of the one before. Nothing here waits for the service: every call is
// asynchronous, and a balloon that comes while one is on its way waits for it (only the last one). A balloon
// that the service does not take in time (or refuses) goes to the fallback, and so do the next ones until the
// service answers again: its capabilities are asked again after a pause, and at once when another program
// takes the service over. Main thread only.

#include "app/ui/NotificationArea.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class QDBusMessage;

namespace dwl::qt
{
class DesktopNotifications : public QObject
{
public:
    struct Balloon
    {
        QString title;
        QString body; // plain text
        ui::BalloonLevel level = ui::BalloonLevel::Information;
    };

    // `fallback` shows a balloon that was handed over but that no service took because none answered.
    explicit DesktopNotifications(std::function<void(const Balloon&)> fallback);

    // False when there is no session bus, or the service did not answer its last call: the caller shows the
    // balloon itself.
    bool show(const Balloon& balloon);

    // For tests: how long a call may go unanswered before it counts as failed, and how long a silent service
    // is left alone before it is asked again.
    void setCallTimeout(std::chrono::milliseconds timeout) { mCallTimeout = timeout; }
    void setRetryInterval(std::chrono::milliseconds interval);

private:
    enum class Service
    {
        Unknown, // not asked since the last change of owner
        Asking,
        Present,
        Silent, // did not answer its last call in time, or refused it; asked again by mRetry
    };

    void askCapabilities();
    void sendWaiting();
    // The balloons on their way go to the fallback, and the service is asked again later.
    void onSilence(const QString& error);
    void onOwnerChanged(const QString& newOwner);
    // Calls `onAnswer` with the answer of `message`, unless the service changed owner meanwhile.
    void call(const QDBusMessage& message, std::function<void(const QDBusMessage& answer)> onAnswer);

    QDBusConnection mBus;
    QDBusServiceWatcher mWatcher;
    std::function<void(const Balloon&)> mFallback;
    std::chrono::milliseconds mCallTimeout;
    Service mService = Service::Unknown;
    bool mMarkup = false;            // the service shows markup in the body
    QTimer mRetry;
    std::optional<Balloon> mWaiting; // the balloon to send next
    std::optional<Balloon> mSending; // the notification on its way
    bool mSilenceLogged = false;
    uint mNotificationId = 0;        // the last notification shown, replaced by the next
    unsigned mOwnerChanges = 0;      // answers from before a change of owner are stale
};
} // namespace dwl::qt
