#pragma once
// The second instance's hand-over: the running instance listens on a local socket in the user's data folder
// (only once it holds the instance lock, so a stale socket can be replaced safely); a second instance
// connects, asks it to open the Wayfold folder and ends. The running instance answers the request and opens
// the folder only when the second instance confirms that answer, which it does only while it still waits: a
// request whose sender gave up (and told the user so) is never carried out later. Connections from another
// user are refused, and so are a request longer than the hand-over's own, more than a few connections at a
// time, and a connection that stays silent.

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

namespace dwl::qt
{
class HandOver : public QObject
{
public:
    HandOver(QString socketPath, std::function<void()> onOpenFolder);

    // How long a connection may stay without its request before it is closed; for tests.
    void setIdleTime(std::chrono::milliseconds idleTime) { mIdleTime = idleTime; }
    // How long the second instance waits at each step before it gives up; for tests.
    void setWaitTime(std::chrono::milliseconds waitTime) { mWaitTime = waitTime; }

    // The running instance; failures are logged, the program runs on without hand-over.
    void listen();
    // The second instance: true once the running instance has answered and the confirmation is sent.
    bool handOver();

private:
    void accept();
    void read(QLocalSocket& socket);

    QString mSocketPath;
    std::function<void()> mOnOpenFolder;
    std::chrono::milliseconds mIdleTime;
    std::chrono::milliseconds mWaitTime;
    int mConnections = 0; // accepted and not yet gone
    QLocalServer mServer;
};
} // namespace dwl::qt
