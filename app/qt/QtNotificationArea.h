#pragma once
// The notification area on Qt: a QSystemTrayIcon with its QMenu. Balloons go to the desktop's notification
// service when there is one (also when no tray exists at all), each in place of the one before, else to the
// tray icon's own message; nothing waits for the service. Every text is shown as plain text. Main thread
// only.

#include "app/NotifyIcon.h"
#include "app/qt/DesktopNotifications.h"
#include "app/ui/NotificationArea.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

namespace dwl::qt
{
class QtNotificationArea : public QObject, public ui::NotificationArea
{
public:
    // Loads the three pictures; throws qcl::basic_runtime_error<wchar_t> "Cannot load icon resource".
    QtNotificationArea();

    // What the user does with the icon and its menu, and the tray host coming back.
    void setCommandHandler(std::function<void(unsigned command)> handler) { mOnCommand = std::move(handler); }
    void setActivationHandler(std::function<void(win32::NotifyIcon::Activation)> handler)
    {
        mOnActivated = std::move(handler);
    }
    void setTrayRestartHandler(std::function<void()> handler) { mOnTrayRestarted = std::move(handler); }
    // A balloon that the notification service left unanswered was shown by the tray icon, late.
    void setLateBalloonHandler(std::function<void()> handler) { mOnBalloonShownLate = std::move(handler); }

    bool add(ui::TrayPicture picture, const std::wstring& toolTip) override;
    bool modify(ui::TrayPicture picture, const std::wstring& toolTip) override;
    bool remove() override;
    bool showBalloon(const std::wstring& title, const std::wstring& text, ui::BalloonLevel level) override;
    void setContextMenu(const ui::ContextMenu& menu) override;

    QMenu& menu() { return mMenu; }

private:
    void show(ui::TrayPicture picture, const std::wstring& toolTip);
    void watchTrayHost();
    bool showTrayBalloon(const DesktopNotifications::Balloon& balloon);

    QIcon mPictures[3];
    QSystemTrayIcon mIcon;
    QMenu mMenu;
    std::vector<unsigned> mCommands; // of the menu's actions, in order
    QTimer mTrayWatch;
    bool mTrayAvailable = false;
    DesktopNotifications mNotifications;
    std::function<void(unsigned)> mOnCommand;
    std::function<void(win32::NotifyIcon::Activation)> mOnActivated;
    std::function<void()> mOnTrayRestarted;
    std::function<void()> mOnBalloonShownLate;
};

// Plain text as a Qt label or tool tip shows it: text that Qt would take for markup is turned into markup
// that shows it as written.
QString plainText(const std::wstring& text);
} // namespace dwl::qt
