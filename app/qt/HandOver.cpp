#include "app/qt/HandOver.h"

#include "app/qt/Text.h"
#include "qcl/Log.h"

#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace dwl::qt
{
namespace
{
const QByteArray openFolderRequest = "open-folder\n";
const QByteArray acknowledgement = "ok\n";
constexpr int waitMilliseconds = 5000;
// Far more than the request; a longer message is no hand-over and is not kept.
constexpr qint64 maximumRequest = 64;
// A second instance needs one connection; a few allow for some starting at once.
constexpr int maximumConnections = 4;

bool isSameUser(const QLocalSocket& socket)
{
    ucred peer = {};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) ==
               0 &&
           peer.uid == ::getuid();
}
} // namespace

HandOver::HandOver(QString socketPath, std::function<void()> onOpenFolder)
    : mSocketPath(std::move(socketPath)), mOnOpenFolder(std::move(onOpenFolder)), mIdleTime(waitMilliseconds)
{
    mServer.setSocketOptions(QLocalServer::UserAccessOption);
    mServer.setMaxPendingConnections(maximumConnections);
    connect(&mServer, &QLocalServer::newConnection, this, [this] { accept(); });
}

void HandOver::listen()
{
    QLocalServer::removeServer(mSocketPath); // left by an instance that crashed; we hold the lock now
    if (!mServer.listen(mSocketPath))
        QCL_LOG_WARN(L"Cannot listen for a second instance on "
                     << qcl::string::escaped(toWString(mSocketPath)) << L": "
                     << toWString(mServer.errorString()));
}

void HandOver::accept()
{
    while (QLocalSocket* socket = mServer.nextPendingConnection())
    {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!isSameUser(*socket))
        {
            QCL_LOG_WARN(L"Refused a hand-over from another user");
            socket->abort();
            continue;
        }
        if (mConnections >= maximumConnections)
        {
            QCL_LOG_WARN(L"Refused a hand-over: " << maximumConnections << L" connections are open already");
            socket->abort();
            continue;
        }
        ++mConnections;
        connect(socket, &QObject::destroyed, this, [this] { --mConnections; });
        socket->setReadBufferSize(maximumRequest);
        QTimer::singleShot(mIdleTime, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this,
                [this, socket]
                {
                    if (!socket->canReadLine())
                    {
                        if (socket->bytesAvailable() >= maximumRequest)
                        {
                            QCL_LOG_WARN(L"Refused a hand-over message longer than " << maximumRequest
                                                                                     << L" bytes");
                            socket->abort();
                        }
                        return;
                    }
                    if (socket->readLine(maximumRequest) == openFolderRequest)
                    {
                        QCL_LOG_INFO(L"A second instance asks to open the Wayfold folder");
                        socket->write(acknowledgement);
                        socket->flush();
                        mOnOpenFolder();
                    }
                    socket->disconnectFromServer();
                });
    }
}

bool HandOver::handOver()
{
    QLocalSocket socket;
    socket.connectToServer(mSocketPath);
    if (!socket.waitForConnected(waitMilliseconds))
        return false;
    socket.write(openFolderRequest);
    if (!socket.waitForBytesWritten(waitMilliseconds))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(waitMilliseconds))
            return false;
    return socket.readLine(64) == acknowledgement;
}
} // namespace dwl::qt
