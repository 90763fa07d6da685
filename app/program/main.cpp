// wayfold: the tray application. Builds the engine and its tray window, runs the Qt event loop on the main
// thread until the window closes, and writes the start and stop banners around it. Exit codes: 0 after a
// normal exit, the end of the session or the hand-over to a running instance; non-zero after a failure.

#include "app/MainFrame.h"
#include "app/Mediator.h"
#include "app/MediatorEngine.h"
#include "app/Paths.h"
#include "app/RunnableQueue.h"
#include "app/qt/HandOver.h"
#include "app/qt/QtNotificationArea.h"
#include "app/qt/QtTrayDesktop.h"
#include "app/qt/QtUserInterface.h"
#include "app/qt/SessionEvents.h"
#include "app/qt/Text.h"
#include "qcl/Error.h"
#include "qcl/Log.h"

#include <QApplication>

#include <optional>
#include <string>

namespace
{
constexpr int failedExitCode = -1;

int run(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("Wayfold");
    QApplication::setDesktopFileName("wayfold");

    dwl::qt::QtUserInterface ui;
    dwl::Mediator mediator;
    dwl::MediatorEngine engine(mediator);
    std::optional<dwl::CMainFrame> frame;

    app::RunnableQueue queue(
        [&]
        {
            QMetaObject::invokeMethod(
                &application, [&] { queue.runPending(); }, Qt::QueuedConnection);
        });
    dwl::qt::QtNotificationArea area;
    dwl::qt::HandOver handOver(
        dwl::qt::toQString(dwl::Paths::dataRoot() + L"/Handover"),
        [&] { queue.post([&] { frame->OnCommand(dwl::ID_CONTEXTMENU_OPENWAYFOLDFOLDER); }); });
    dwl::qt::QtTrayDesktop desktop(ui, handOver);
    frame.emplace(engine, desktop, area, queue);

    area.setCommandHandler([&](unsigned command)
                           { queue.post([&, command] { frame->OnCommand(command); }); });
    area.setActivationHandler(
        [&](win32::NotifyIcon::Activation activation)
        { queue.post([&, activation] { frame->notifyIcon().onActivated(activation); }); });
    area.setTrayRestartHandler([&] { queue.post([&] { frame->notifyIcon().onTrayHostRestarted(); }); });
    dwl::qt::SessionEvents session(
        [&] { queue.post([&] { frame->OnEndSession(true); }); },
        [&](bool sleeping)
        {
            queue.post(
                [&, sleeping]
                { frame->OnPowerBroadcast(sleeping ? dwl::PBT_APMSUSPEND : dwl::PBT_APMRESUMESUSPEND); });
        });

    queue.post([&] { frame->OnCreate(); });
    const int exitCode = QApplication::exec();
    frame.reset(); // stops the engine before the Mediator and the views go
    return exitCode;
}
} // namespace

int main(int argc, char** argv)
{
    const std::wstring stars(88, L'*'), dashes(88, L'-');
    QCL_LOG_INFO(stars);
    QCL_LOG_INFO(L"* Started " << dwl::productBanner);
    QCL_LOG_INFO(stars);
    int exitCode = failedExitCode;
    try
    {
        exitCode = run(argc, argv);
    }
    catch (...)
    {
        QCL_LOG_FATAL(qcl::currentExceptionMessage());
        exitCode = failedExitCode;
    }
    QCL_LOG_INFO(dashes);
    QCL_LOG_INFO(L"- Stopped " << dwl::productBanner);
    QCL_LOG_INFO(dashes);
    return exitCode;
}
