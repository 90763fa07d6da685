#include "app/qt/QtNotificationArea.h"

#include "app/DesktopName.h"
#include "app/qt/QtMessageBox.h"
#include "app/qt/Text.h"
#include "qcl/Error.h"

#include <QDBusConnection>
#include <QDBusMessage>
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
constexpr int serviceDefaultTimeout = -1;
// How long a notification may hold up the main thread when the service does not answer.
constexpr int notifyCallMilliseconds = 2000;
const char* const notificationsService = "org.freedesktop.Notifications";
const char* const notificationsPath = "/org/freedesktop/Notifications";

// The freedesktop.org icon of each level.
const char* levelIconName(ui::BalloonLevel level)
{
    switch (level)
    {
    case ui::BalloonLevel::Error:
        return "dialog-error";
    case ui::BalloonLevel::Warning:
        return "dialog-warning";
    default:
        return "dialog-information";
    }
}

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

std::optional<uint> notifyDesktop(const QString& title, const QString& body, ui::BalloonLevel level,
                                  uint replacesId)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    const auto call = [&](const char* method, const QVariantList& arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(notificationsService, notificationsPath,
                                                              notificationsService, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, notifyCallMilliseconds);
    };
    const QDBusMessage capabilities = call("GetCapabilities", {});
    if (capabilities.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    // A service that understands markup in the body is given the text escaped, so that it shows as written.
    const bool markup = !capabilities.arguments().isEmpty() &&
                        capabilities.arguments().first().toStringList().contains("body-markup");
    // Normal urgency whatever the level: a service keeps a critical notification until it is dismissed, and
    // a balloon's level is only its look, given by its icon.
    const QVariantMap hints{{"urgency", QVariant::fromValue<uchar>(1)},
                            {"desktop-entry", QString::fromLatin1(desktopName)}};
    const QDBusMessage reply =
        call("Notify", {QString("Wayfold"), replacesId, QString(levelIconName(level)), title,
                        markup ? body.toHtmlEscaped() : body, QStringList(), hints, serviceDefaultTimeout});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().first().toUInt();
}

QtNotificationArea::QtNotificationArea()
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
    const QString plainTitle = toQString(title);
    const QString body = toQString(withQtLineBreaks(text));
    if (const std::optional<uint> id = notifyDesktop(plainTitle, body, level, mNotificationId))
    {
        mNotificationId = *id;
        return true;
    }
    if (!mIcon.isVisible() || !QSystemTrayIcon::supportsMessages())
        return false;
    const auto icon = level == ui::BalloonLevel::Error     ? QSystemTrayIcon::Critical
                      : level == ui::BalloonLevel::Warning ? QSystemTrayIcon::Warning
                                                           : QSystemTrayIcon::Information;
    // The tray shows its one balloon as plain text.
    mIcon.showMessage(plainTitle, body, icon, trayBalloonMilliseconds);
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
