#include "app/qt/QtNotificationArea.h"

#include "QtTestSupport.h"
#include "app/qt/Text.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTextDocument>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace
{
// What a rich-text-aware label or tool tip would show for the text.
std::wstring shown(const QString& text)
{
    QTextDocument document;
    if (Qt::mightBeRichText(text))
        document.setHtml(text);
    else
        document.setPlainText(text);
    return dwl::qt::toWString(document.toPlainText());
}

TEST(QtNotificationArea, ServerNamesWithMarkupAreShownAsWritten)
{
    test::qtApplication();
    EXPECT_EQ(shown(dwl::qt::plainText(L"Share '<b>Plans</b> & co'")), L"Share '<b>Plans</b> & co'");
    EXPECT_EQ(shown(dwl::qt::plainText(L"Connected to A\r\nB")), L"Connected to A\nB");
}

TEST(QtNotificationArea, MenuFollowsTheItemsAndRunsTheirCommands)
{
    test::qtApplication();
    dwl::qt::QtNotificationArea area;
    std::vector<unsigned> commands;
    area.setCommandHandler([&](unsigned command) { commands.push_back(command); });
    dwl::ui::ContextMenu menu{{{0x8008, L"&Open"}, {0, L""}, {0x800c, L"No Update Available", false}},
                              0x8008};
    area.setContextMenu(menu);
    QAction* upgrade = area.menu().actions().at(2);
    EXPECT_FALSE(upgrade->isEnabled());
    menu.items[2] = {0x800c, L"Update to version 1.14.0", true};
    area.setContextMenu(menu);
    EXPECT_EQ(area.menu().actions().at(2), upgrade); // updated in place, also while the menu is open
    EXPECT_EQ(upgrade->text(), QString("Update to version 1.14.0"));
    EXPECT_TRUE(area.menu().actions().at(1)->isSeparator());
    EXPECT_EQ(area.menu().defaultAction(), area.menu().actions().at(0));
    upgrade->trigger();
    EXPECT_EQ(commands, std::vector<unsigned>{0x800c});
}
// A notification service on a private session bus, on a thread of its own (the program waits for its answers
// on the main thread), that records every notification and answers as a real one: a notification that
// replaces another keeps its id.
class FakeNotificationService : public QDBusVirtualObject
{
public:
    struct Notification
    {
        uint replacesId = 0;
        uint id = 0;
        QString icon, summary, body;
        uchar urgency = 0;
        int timeout = 0;
    };

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == "GetCapabilities")
            return connection.send(message.createReply(QStringList{"body"}));
        if (message.member() != "Notify")
            return false;
        const QVariantList a = message.arguments();
        Notification shown{a[1].toUInt(),   0,
                           a[2].toString(), a[3].toString(),
                           a[4].toString(), qdbus_cast<QVariantMap>(a[6]).value("urgency").value<uchar>(),
                           a[7].toInt()};
        {
            std::lock_guard lock(mMutex);
            shown.id = shown.replacesId != 0 ? shown.replacesId : ++mLastId;
            mShown.push_back(shown);
        }
        return connection.send(message.createReply(QVariant::fromValue(shown.id)));
    }
    QString introspect(const QString&) const override { return {}; }

    std::vector<Notification> shown() const
    {
        std::lock_guard lock(mMutex);
        return mShown;
    }

private:
    mutable std::mutex mMutex;
    std::vector<Notification> mShown;
    uint mLastId = 0;
};

// A private dbus-daemon as the process's session bus, with the fake service on it.
class PrivateSessionBus
{
public:
    PrivateSessionBus()
    {
        mDaemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!mDaemon.waitForStarted(10000) || !mDaemon.waitForReadyRead(10000))
            return;
        const QString address = QString::fromUtf8(mDaemon.readLine()).trimmed();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8().constData(), 1);
        QDBusConnection service = QDBusConnection::connectToBus(address, "fake-notifications");
        mThread.start();
        mService.moveToThread(&mThread);
        mReady = service.registerVirtualObject("/org/freedesktop/Notifications", &mService) &&
                 service.registerService("org.freedesktop.Notifications");
    }
    ~PrivateSessionBus()
    {
        mThread.quit();
        mThread.wait();
        mDaemon.kill();
        mDaemon.waitForFinished();
    }
    bool ready() const { return mReady; }
    const FakeNotificationService& service() const { return mService; }

private:
    QProcess mDaemon;
    QThread mThread;
    FakeNotificationService mService;
    bool mReady = false;
};

TEST(QtNotificationArea, EachBalloonReplacesTheLastNotificationWithNormalUrgencyAndTheDefaultTimeout)
{
    test::qtApplication();
    PrivateSessionBus bus;
    if (!bus.ready())
        GTEST_SKIP() << "no dbus-daemon (scripts/install-deps)";
    dwl::qt::QtNotificationArea area;
    using L = dwl::ui::BalloonLevel;
    for (int i = 0; i < 40; ++i)
        EXPECT_TRUE(area.showBalloon(
            L"Quillmere Wayfold", L"'" + std::to_wstring(i) + L".txt' has been downloaded", L::Information));
    EXPECT_TRUE(area.showBalloon(L"Quillmere Wayfold", L"Share '<b>S</b>' cannot be created", L::Error));
    EXPECT_TRUE(
        area.showBalloon(L"Quillmere Wayfold", L"The server is temporarily unavailable.", L::Warning));

    const auto shown = bus.service().shown();
    ASSERT_EQ(shown.size(), 42u);
    EXPECT_EQ(shown[0].replacesId, 0u);
    for (std::size_t i = 1; i < shown.size(); ++i)
        EXPECT_EQ(shown[i].replacesId, shown[0].id) << i;
    for (const auto& notification : shown)
    {
        EXPECT_EQ(notification.urgency, 1) << notification.body.toStdString(); // normal, whatever the level
        EXPECT_EQ(notification.timeout, -1);                                   // the service's own
    }
    EXPECT_EQ(shown[39].body, "'39.txt' has been downloaded");
    EXPECT_EQ(shown[40].body, "Share '<b>S</b>' cannot be created"); // the service shows no markup
    EXPECT_EQ(shown[40].icon, "dialog-error");
    EXPECT_EQ(shown[41].icon, "dialog-warning");
}
} // namespace
