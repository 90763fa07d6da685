#include "app/qt/SessionEvents.h"

#include "qcl/Log.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QSessionManager>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace dwl::qt
{
namespace
{
// The signal handler only writes the signal's number to this socket; the main thread reads it.
int signalSockets[2] = {-1, -1};
constexpr int sessionSignals[] = {SIGTERM, SIGHUP, SIGINT};

extern "C" void onSessionSignal(int signal)
{
    const int saved = errno;
    const char number = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t ignored = ::write(signalSockets[0], &number, 1);
    errno = saved;
}

const char* const logindService = "org.freedesktop.login1";
const char* const logindPath = "/org/freedesktop/login1";
const char* const logindManager = "org.freedesktop.login1.Manager";
} // namespace

SessionEvents::SessionEvents(std::function<void()> onQueryEndOfSession, std::function<void()> onEndOfSession,
                             std::function<void(bool sleeping)> onSleep)
    : mOnQueryEndOfSession(std::move(onQueryEndOfSession)), mOnEndOfSession(std::move(onEndOfSession)),
      mOnSleep(std::move(onSleep))
{
    // Answered at once, without cancelling: the session may end, and its end reaches the program as a signal.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { mOnQueryEndOfSession(); });

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0)
        QCL_LOG_WARN(L"Cannot watch for the end of the session: no socket pair");
    else
    {
        mSignalNotifier = std::make_unique<QSocketNotifier>(signalSockets[1], QSocketNotifier::Read);
        connect(mSignalNotifier.get(), &QSocketNotifier::activated, this, [this] { onSignal(); });
        struct sigaction action = {};
        action.sa_handler = onSessionSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : sessionSignals)
            ::sigaction(signal, &action, nullptr);
    }

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() ||
        !bus.connect(logindService, logindPath, logindManager, "PrepareForSleep", this,
                     SLOT(onPrepareForSleep(bool))) ||
        !bus.connect(logindService, logindPath, logindManager, "PrepareForShutdown", this,
                     SLOT(onPrepareForShutdown(bool))))
        QCL_LOG_WARN(L"No system bus: sleep, wake and shutdown reports of the login manager are not heard");
}

SessionEvents::~SessionEvents()
{
    if (!mSignalNotifier)
        return;
    for (const int signal : sessionSignals)
        std::signal(signal, SIG_DFL);
    mSignalNotifier.reset();
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
}

void SessionEvents::onSignal()
{
    char number = 0;
    if (::read(signalSockets[1], &number, 1) != 1)
        return;
    QCL_LOG_INFO(L"Signal " << static_cast<int>(number) << L" received: the session ends");
    mOnEndOfSession();
}

void SessionEvents::onPrepareForSleep(bool sleeping)
{
    mOnSleep(sleeping);
}

void SessionEvents::onPrepareForShutdown(bool shuttingDown)
{
    if (shuttingDown)
        mOnEndOfSession();
}
} // namespace dwl::qt
