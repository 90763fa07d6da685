#include "app/qt/TrayApplication.h"

#include "app/DesktopName.h"
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
#include "app/qt/StartFailureReport.h"
#include "app/qt/Text.h"

#include <QApplication>
#include <QTimer>

#include <optional>

namespace dwl::qt
{
int runTrayApplication(int argc, char** argv)
{
    if (const std::optional<std::wstring> problem = displayProblem(argc, argv))
    {
        reportStartFailure(*problem, nullptr);
        return 1;
    }
    std::optional<FatalQtMessageExit> unreachableDisplay(std::in_place, true);
    QApplication application(argc, argv);
    unreachableDisplay.reset();
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("Wayfold");
    QApplication::setDesktopFileName(desktopName);

    QtUserInterface ui;
    QString handOverSocket;
    try
    {
        handOverSocket = toQString(Paths::dataRoot() + L"/Handover");
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        reportStartFailure(error.message(), &ui.messageBox());
        return 1;
    }
    Mediator mediator;
    MediatorEngine engine(mediator);
    std::optional<CMainFrame> frame;

    app::RunnableQueue queue(
        [&]
        {
            QMetaObject::invokeMethod(
                &application, [&] { queue.runPending(); }, Qt::QueuedConnection);
        });
    QtNotificationArea area;
    HandOver handOver(handOverSocket,
                      [&] { queue.post([&] { frame->OnCommand(ID_CONTEXTMENU_OPENWAYFOLDFOLDER); }); });
    QtTrayDesktop desktop(ui, handOver);
    const win32::Scheduler schedule = [&](std::chrono::milliseconds delay, std::function<void()> action)
    { QTimer::singleShot(delay, &application, [&queue, action] { queue.post(action); }); };
    frame.emplace(engine, desktop, area, queue, win32::Sleeper(), schedule);

    area.setCommandHandler([&](unsigned command)
                           { queue.post([&, command] { frame->OnCommand(command); }); });
    area.setActivationHandler(
        [&](win32::NotifyIcon::Activation activation)
        { queue.post([&, activation] { frame->notifyIcon().onActivated(activation); }); });
    area.setTrayRestartHandler([&] { queue.post([&] { frame->notifyIcon().onTrayHostRestarted(); }); });
    area.setLateBalloonHandler([&] { queue.post([&] { frame->notifyIcon().onBalloonShownLate(); }); });
    SessionEvents session(
        [&] { frame->OnQueryEndSession(); }, [&] { queue.post([&] { frame->OnEndSession(true); }); },
        [&](bool sleeping)
        {
            queue.post([&, sleeping]
                       { frame->OnPowerBroadcast(sleeping ? PBT_APMSUSPEND : PBT_APMRESUMESUSPEND); });
        });

    queue.post([&] { frame->OnCreate(); });
    const int exitCode = QApplication::exec();
    frame.reset(); // stops the engine before the Mediator and the views go
    return exitCode;
}
} // namespace dwl::qt
