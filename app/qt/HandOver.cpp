#include "app/qt/HandOver.h"

#include "app/qt/Text.h"
#include "qcl/Log.h"

#include <QLocalSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace dwl::qt
{
namespace
{
const QByteArray openFolderRequest = "open-folder\n";
const QByteArray acknowledgement = "ok\n";
constexpr int waitMilliseconds = 5000;

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
    : mSocketPath(std::move(socketPath)), mOnOpenFolder(std::move(onOpenFolder))
{
    mServer.setSocketOptions(QLocalServer::UserAccessOption);
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
        connect(socket, &QLocalSocket::readyRead, this,
                [this, socket]
                {
                    if (!socket->canReadLine())
                        return;
                    if (socket->readLine(64) == openFolderRequest)
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
