#include "app/qt/QtNotificationArea.h"

#include "app/qt/QtMessageBox.h"
#include "app/qt/Text.h"
#include "qcl/Error.h"

#include <QFont>
#include <QPixmap>
#include <QTextDocument>

namespace dwl::qt
{
namespace
{
const char* const pictureFiles[] = {":/icons/wayfold-online.png", ":/icons/wayfold-offline.png",
                                    ":/icons/wayfold-syncing.png"};

constexpr int trayWatchMilliseconds = 2000;
// The tray's own balloon stays as long as Qt shows one by default; the notification service decides itself.
constexpr int trayBalloonMilliseconds = 10000;

win32::NotifyIcon::Activation activationOf(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason)
    {
    case QSystemTrayIcon::Trigger:
        return win32::NotifyIcon::Activation::Click;
    case QSystemTrayIcon::DoubleClick:
        return win32::NotifyIcon::Activation::DoubleClick;
    case QSystemTrayIcon::Context:
        return win32::NotifyIcon::Activation::Context;
    default:
        return win32::NotifyIcon::Activation::Other;
    }
}
} // namespace

QString plainText(const std::wstring& text)
{
    const QString plain = toQString(withQtLineBreaks(text));
    return Qt::mightBeRichText(plain) ? Qt::convertFromPlainText(plain, Qt::WhiteSpaceNormal) : plain;
}

QtNotificationArea::QtNotificationArea()
    : mNotifications(
          [this](const DesktopNotifications::Balloon& balloon)
          {
              if (showTrayBalloon(balloon) && mOnBalloonShownLate)
                  mOnBalloonShownLate();
          })
{
    for (int i = 0; i < 3; ++i)
    {
        const QPixmap picture(pictureFiles[i]);
        if (picture.isNull())
            throw qcl::basic_runtime_error<wchar_t>(L"Cannot load icon resource");
        mPictures[i] = QIcon(picture);
    }
    mIcon.setContextMenu(&mMenu);
    connect(&mIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason)
            {
                if (mOnActivated)
                    mOnActivated(activationOf(reason));
            });
    mTrayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    connect(&mTrayWatch, &QTimer::timeout, this, [this] { watchTrayHost(); });
    mTrayWatch.start(trayWatchMilliseconds);
}

void QtNotificationArea::watchTrayHost()
{
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    const bool cameBack = available && !mTrayAvailable;
    mTrayAvailable = available;
    if (cameBack && mOnTrayRestarted)
        mOnTrayRestarted();
}

void QtNotificationArea::show(ui::TrayPicture picture, const std::wstring& toolTip)
{
    mIcon.setIcon(mPictures[static_cast<int>(picture)]);
    mIcon.setToolTip(plainText(toolTip));
}

bool QtNotificationArea::add(ui::TrayPicture picture, const std::wstring& toolTip)
{
    mTrayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    if (!mTrayAvailable)
        return false;
    show(picture, toolTip);
    mIcon.hide(); // a tray host that restarted has forgotten the icon: dock it again
    mIcon.show();
    return true;
}

bool QtNotificationArea::modify(ui::TrayPicture picture, const std::wstring& toolTip)
{
    show(picture, toolTip);
    return mIcon.isVisible();
}

bool QtNotificationArea::remove()
{
    const bool wasVisible = mIcon.isVisible();
    mIcon.hide();
    return wasVisible;
}

bool QtNotificationArea::showBalloon(const std::wstring& title, const std::wstring& text,
                                     ui::BalloonLevel level)
{
    // Like the tray icon's one balloon, each notification takes the place of the one before.
    const DesktopNotifications::Balloon balloon{toQString(title), toQString(withQtLineBreaks(text)), level};
    return mNotifications.show(balloon) || showTrayBalloon(balloon);
}

bool QtNotificationArea::showTrayBalloon(const DesktopNotifications::Balloon& balloon)
{
    if (!mIcon.isVisible() || !QSystemTrayIcon::supportsMessages())
        return false;
    const auto icon = balloon.level == ui::BalloonLevel::Error     ? QSystemTrayIcon::Critical
                      : balloon.level == ui::BalloonLevel::Warning ? QSystemTrayIcon::Warning
                                                                   : QSystemTrayIcon::Information;
    // The tray shows its one balloon as plain text.
    mIcon.showMessage(balloon.title, balloon.body, icon, trayBalloonMilliseconds);
    return true;
}

void QtNotificationArea::setContextMenu(const ui::ContextMenu& menu)
{
    std::vector<unsigned> commands;
    for (const ui::MenuItem& item : menu.items)
        commands.push_back(item.command);
    if (commands != mCommands)
    {
        // Rebuilt only when the items change; texts and states are updated in place, even while it is open.
        mMenu.clear();
        for (const ui::MenuItem& item : menu.items)
        {
            if (item.command == 0)
            {
                mMenu.addSeparator();
                continue;
            }
            QAction* action = mMenu.addAction(QString());
            const unsigned command = item.command;
            connect(action, &QAction::triggered, this,
                    [this, command]
                    {
                        if (mOnCommand)
                            mOnCommand(command);
                    });
        }
        mCommands = std::move(commands);
    }
    const QList<QAction*> actions = mMenu.actions();
    for (std::size_t i = 0; i < menu.items.size() && i < static_cast<std::size_t>(actions.size()); ++i)
    {
        const ui::MenuItem& item = menu.items[i];
        if (item.command == 0)
            continue;
        QAction* action = actions[static_cast<qsizetype>(i)];
        action->setText(toQString(item.text));
        action->setEnabled(item.enabled);
        const bool isDefault = menu.defaultCommand == item.command;
        QFont font = action->font();
        font.setBold(isDefault);
        action->setFont(font);
        if (isDefault)
            mMenu.setDefaultAction(action);
    }
}
} // namespace dwl::qt
