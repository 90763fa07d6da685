#pragma once
// The end of the user's session and the system's sleep, as the program hears of them: the session manager's
// request to save before the session ends is the query whether it may end (it may: nothing is cancelled);
// SIGTERM, SIGHUP and SIGINT end the session, and so does logind's PrepareForShutdown; logind's
// PrepareForSleep reports sleep and wake. Without a system bus the program runs on without the logind reports
// (a warning is logged).

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
    // The handlers run on the main thread; `onQueryEndOfSession` while the session manager waits for the
    // answer. Only one object may exist at a time.
    SessionEvents(std::function<void()> onQueryEndOfSession, std::function<void()> onEndOfSession,
                  std::function<void(bool sleeping)> onSleep);
    ~SessionEvents() override;

private slots:
    void onPrepareForSleep(bool sleeping);
    void onPrepareForShutdown(bool shuttingDown);

private:
    void onSignal();

    std::function<void()> mOnQueryEndOfSession;
    std::function<void()> mOnEndOfSession;
    std::function<void(bool)> mOnSleep;
    std::unique_ptr<QSocketNotifier> mSignalNotifier;
};
} // namespace dwl::qt
