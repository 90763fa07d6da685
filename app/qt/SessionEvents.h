#pragma once
// The end of the user's session and the system's sleep, as the program hears of them: SIGTERM, SIGHUP and
// SIGINT end the session, and so does logind's PrepareForShutdown; logind's PrepareForSleep reports sleep and
// wake. Without a system bus the program runs on without the logind reports (a warning is logged).

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace dwl::qt
{
class SessionEvents : public QObject
{
    Q_OBJECT

public:
    // Both handlers run on the main thread. Only one object may exist at a time.
    SessionEvents(std::function<void()> onEndOfSession, std::function<void(bool sleeping)> onSleep);
    ~SessionEvents() override;

private slots:
    void onPrepareForSleep(bool sleeping);
    void onPrepareForShutdown(bool shuttingDown);

private:
    void onSignal();

    std::function<void()> mOnEndOfSession;
    std::function<void(bool)> mOnSleep;
    std::unique_ptr<QSocketNotifier> mSignalNotifier;
};
} // namespace dwl::qt
