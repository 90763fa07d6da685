#include "app/qt/HandOver.h"

#include "app/qt/Text.h"
#include "qcl/Log.h"

#include <QLocalSocket>
#include <QTimer>
#include <QVariant>

#include <sys/socket.h>
#include <unistd.h>

namespace dwl::qt
{
namespace
{
const QByteArray openFolderRequest = "open-folder\n";
const QByteArray acknowledgement = "ok\n";
const QByteArray confirmation = "go\n";
// Marks a connection whose request was answered and awaits the confirmation.
const char* const answeredProperty = "answered";
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
    : mSocketPath(std::move(socketPath)), mOnOpenFolder(std::move(onOpenFolder)), mIdleTime(waitMilliseconds),
      mWaitTime(waitMilliseconds)
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
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(*socket); });
    }
}

void HandOver::read(QLocalSocket& socket)
{
    while (socket.canReadLine())
    {
        const QByteArray line = socket.readLine(maximumRequest);
        if (!socket.property(answeredProperty).toBool() && line == openFolderRequest)
        {
            // Carried out only on the confirmation: a sender that waited in vain has gone without one.
            socket.setProperty(answeredProperty, true);
            socket.write(acknowledgement);
            socket.flush();
            continue;
        }
        if (socket.property(answeredProperty).toBool() && line == confirmation)
        {
            QCL_LOG_INFO(L"A second instance asks to open the Wayfold folder");
            mOnOpenFolder();
        }
        socket.disconnectFromServer();
        return;
    }
    if (socket.bytesAvailable() >= maximumRequest)
    {
        QCL_LOG_WARN(L"Refused a hand-over message longer than " << maximumRequest << L" bytes");
        socket.abort();
    }
}

bool HandOver::handOver()
{
    const int wait = static_cast<int>(mWaitTime.count());
    QLocalSocket socket;
    socket.connectToServer(mSocketPath);
    if (!socket.waitForConnected(wait))
        return false;
    socket.write(openFolderRequest);
    if (!socket.waitForBytesWritten(wait))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(wait))
            return false;
    if (socket.readLine(maximumRequest) != acknowledgement)
        return false;
    socket.write(confirmation);
    return socket.waitForBytesWritten(wait);
}
} // namespace dwl::qt
