#pragma once
// The second instance's hand-over: the running instance listens on a local socket in the user's data folder
// (only once it holds the instance lock, so a stale socket can be replaced safely); a second instance
// connects, asks it to open the Wayfold folder and ends. Connections from another user are refused, and so
// are a request longer than the hand-over's own, more than a few connections at a time, and a connection
// that stays silent.

#include <QLocalServer>
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

    // The running instance; failures are logged, the program runs on without hand-over.
    void listen();
    // The second instance: true once the running instance has taken the request.
    bool handOver();

private:
    void accept();

    QString mSocketPath;
    std::function<void()> mOnOpenFolder;
    std::chrono::milliseconds mIdleTime;
    int mConnections = 0; // accepted and not yet gone
    QLocalServer mServer;
};
} // namespace dwl::qt
