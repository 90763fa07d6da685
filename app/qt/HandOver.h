#pragma once
// The second instance's hand-over: the running instance listens on a local socket in the user's data folder
// (only once it holds the instance lock, so a stale socket can be replaced safely); a second instance
// connects, asks it to open the Wayfold folder and ends. Connections from another user are refused.

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

namespace dwl::qt
{
class HandOver : public QObject
{
public:
    HandOver(QString socketPath, std::function<void()> onOpenFolder);

    // The running instance; failures are logged, the program runs on without hand-over.
    void listen();
    // The second instance: true once the running instance has taken the request.
    bool handOver();

private:
    void accept();

    QString mSocketPath;
    std::function<void()> mOnOpenFolder;
    QLocalServer mServer;
};
} // namespace dwl::qt
