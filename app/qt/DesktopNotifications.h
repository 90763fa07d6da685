#pragma once
// Balloons as notifications of the desktop's notification service (org.freedesktop.Notifications) on the
// session bus, each in place of the one before. Nothing here waits for the service: every call is
// asynchronous, and a balloon that comes while one is on its way waits for it (only the last one), so a
// service that answers late or never costs nothing but its balloons. The service's capabilities are asked
// once, and again when another program takes the service over; while no service answers, the owner shows the
// balloons itself. Main thread only.

#include "app/ui/NotificationArea.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>

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

    // False when there is no session bus, or no service answered the last time it was asked: the caller
    // shows the balloon itself.
    bool show(const Balloon& balloon);

    // How long a call may go unanswered before it counts as failed; for tests.
    void setCallTimeout(std::chrono::milliseconds timeout) { mCallTimeout = timeout; }

private:
    enum class Service
    {
        Unknown, // not asked since the last change of owner
        Asking,
        Present,
        Absent, // did not answer
    };

    void askCapabilities();
    void sendWaiting();
    void onOwnerChanged(const QString& newOwner);
    // Calls `onAnswer` with the answer of `message`, unless the service changed owner meanwhile.
    void call(const QDBusMessage& message, std::function<void(const QDBusMessage& answer)> onAnswer);

    QDBusConnection mBus;
    QDBusServiceWatcher mWatcher;
    std::function<void(const Balloon&)> mFallback;
    std::chrono::milliseconds mCallTimeout;
    Service mService = Service::Unknown;
    bool mMarkup = false;            // the service shows markup in the body
    std::optional<Balloon> mWaiting; // the balloon to send next
    bool mSending = false;           // a notification is on its way
    uint mNotificationId = 0;        // the last notification shown, replaced by the next
    unsigned mOwnerChanges = 0;      // answers from before a change of owner are stale
};
} // namespace dwl::qt
