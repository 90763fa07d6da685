#include "app/qt/QtNotificationArea.h"

#include "QtTestSupport.h"
#include "app/qt/Text.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
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

// A notification service on a private session bus, on a thread of its own, that records every call and
// notification and answers as a real one (a notification that replaces another keeps its id): at once, late,
// or never.
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

    // How it answers from now on: after this long (0: at once), or never (nullopt); to calls of `member`
    // only, or to all.
    void setAnswerDelay(std::optional<std::chrono::milliseconds> delay, const QString& member = {})
    {
        std::lock_guard lock(mMutex);
        if (member.isEmpty())
        {
            mMemberDelays.clear();
            mDelay = delay;
        }
        else
            mMemberDelays[member] = delay;
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        std::optional<std::chrono::milliseconds> delay;
        QDBusMessage reply;
        {
            std::lock_guard lock(mMutex);
            ++mCalls[message.member()];
            delay = mMemberDelays.value(message.member(), mDelay);
            if (message.member() == "GetCapabilities")
                reply = message.createReply(QStringList{"body"});
            else if (message.member() == "Notify")
            {
                const QVariantList a = message.arguments();
                Notification shown{
                    a[1].toUInt(),   0,
                    a[2].toString(), a[3].toString(),
                    a[4].toString(), qdbus_cast<QVariantMap>(a[6]).value("urgency").value<uchar>(),
                    a[7].toInt()};
                shown.id = shown.replacesId != 0 ? shown.replacesId : ++mLastId;
                mShown.push_back(shown);
                reply = message.createReply(QVariant::fromValue(shown.id));
            }
            else
                return false;
        }
        message.setDelayedReply(true);
        if (delay)
            QTimer::singleShot(*delay, [connection, reply]() mutable { connection.send(reply); });
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    std::vector<Notification> shown() const
    {
        std::lock_guard lock(mMutex);
        return mShown;
    }
    void reset()
    {
        std::lock_guard lock(mMutex);
        mShown.clear();
        mCalls.clear();
        mMemberDelays.clear();
        mDelay = std::chrono::milliseconds(0);
    }
    int calls(const QString& member) const
    {
        std::lock_guard lock(mMutex);
        return mCalls.value(member);
    }

private:
    mutable std::mutex mMutex;
    std::vector<Notification> mShown;
    QMap<QString, int> mCalls;
    std::optional<std::chrono::milliseconds> mDelay = std::chrono::milliseconds(0);
    QMap<QString, std::optional<std::chrono::milliseconds>> mMemberDelays;
    uint mLastId = 0;
};

// A private dbus-daemon as the process's session bus, with the fake service on it: one for the whole process,
// made before anything asks for the session bus (which the process connects to once).
class PrivateSessionBus
{
public:
    // The service starts each test afresh: answering at once, nothing recorded.
    static PrivateSessionBus& forProcess()
    {
        static PrivateSessionBus bus;
        bus.mService.reset();
        return bus;
    }

private:
    PrivateSessionBus()
    {
        test::qtApplication();
        mDaemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!mDaemon.waitForStarted(10000) || !mDaemon.waitForReadyRead(10000))
            return;
        mAddress = QString::fromUtf8(mDaemon.readLine()).trimmed();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", mAddress.toUtf8().constData(), 1);
        QDBusConnection service = QDBusConnection::connectToBus(mAddress, "fake-notifications");
        mThread.start();
        mService.moveToThread(&mThread);
        mReady = service.registerVirtualObject("/org/freedesktop/Notifications", &mService) &&
                 service.registerService("org.freedesktop.Notifications");
    }

public:
    ~PrivateSessionBus()
    {
        mThread.quit();
        mThread.wait();
        mDaemon.kill();
        mDaemon.waitForFinished();
    }
    bool ready() const { return mReady; }
    FakeNotificationService& service() { return mService; }
    // Another program takes the service over: the name gets a new owner.
    bool changeOwner()
    {
        QDBusConnection old = QDBusConnection("fake-notifications");
        QDBusConnection next = QDBusConnection::connectToBus(mAddress, "fake-notifications-2");
        next.registerVirtualObject("/org/freedesktop/Notifications", &mService);
        return old.unregisterService("org.freedesktop.Notifications") &&
               next.registerService("org.freedesktop.Notifications");
    }

private:
    QString mAddress;
    QProcess mDaemon;
    QThread mThread;
    FakeNotificationService mService;
    bool mReady = false;
};

TEST(QtNotificationArea, EachBalloonReplacesTheLastNotificationWithNormalUrgencyAndTheDefaultTimeout)
{
    test::qtApplication();
    PrivateSessionBus& bus = PrivateSessionBus::forProcess();
    if (!bus.ready())
        GTEST_SKIP() << "no dbus-daemon (scripts/install-deps)";
    dwl::qt::QtNotificationArea area;
    using L = dwl::ui::BalloonLevel;
    const std::vector<std::pair<std::wstring, L>> balloons = {
        {L"'a.txt' has been downloaded", L::Information},
        {L"'b.txt' has been downloaded", L::Information},
        {L"Share '<b>S</b>' cannot be created", L::Error},
        {L"The server is temporarily unavailable.", L::Warning}};
    for (std::size_t i = 0; i < balloons.size(); ++i)
    {
        EXPECT_TRUE(area.showBalloon(L"Quillmere Wayfold", balloons[i].first, balloons[i].second));
        EXPECT_TRUE(QTest::qWaitFor([&] { return bus.service().shown().size() == i + 1; }, 10000));
    }

    const auto shown = bus.service().shown();
    ASSERT_EQ(shown.size(), balloons.size());
    EXPECT_EQ(shown[0].replacesId, 0u);
    for (std::size_t i = 1; i < shown.size(); ++i)
        EXPECT_EQ(shown[i].replacesId, shown[0].id) << i;
    for (const auto& notification : shown)
    {
        EXPECT_EQ(notification.urgency, 1) << notification.body.toStdString(); // normal, whatever the level
        EXPECT_EQ(notification.timeout, -1);                                   // the service's own
    }
    EXPECT_EQ(shown[1].body, "'b.txt' has been downloaded");
    EXPECT_EQ(shown[2].body, "Share '<b>S</b>' cannot be created"); // the service shows no markup
    EXPECT_EQ(shown[2].icon, "dialog-error");
    EXPECT_EQ(shown[3].icon, "dialog-warning");
    EXPECT_EQ(bus.service().calls("GetCapabilities"), 1);
}

// Twenty balloons at once, as twenty arriving files make them, with the main thread's events meanwhile.
struct Burst
{
    Burst(const std::function<bool(const QString& text)>& show, const QString& prefix)
    {
        QTimer::singleShot(0, [this] { eventsRan = true; });
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 20; ++i)
            taken += show(QString("'%1%2.txt' has been downloaded").arg(prefix).arg(i));
        elapsed = std::chrono::milliseconds(clock.elapsed());
    }
    Burst(dwl::qt::DesktopNotifications& notifications, const QString& prefix)
        : Burst(
              [&](const QString& text) {
                  return notifications.show({"Quillmere Wayfold", text, dwl::ui::BalloonLevel::Information});
              },
              prefix)
    {
    }
    int taken = 0;
    bool eventsRan = false;
    std::chrono::milliseconds elapsed{0};
};

TEST(QtNotificationArea, ANotificationServiceThatNeverAnswersHoldsNothingUp)
{
    PrivateSessionBus& bus = PrivateSessionBus::forProcess();
    if (!bus.ready())
        GTEST_SKIP() << "no dbus-daemon (scripts/install-deps)";
    bus.service().setAnswerDelay(std::nullopt);
    dwl::qt::QtNotificationArea area;
    const Burst burst(
        [&](const QString& text)
        {
            return area.showBalloon(L"Quillmere Wayfold", dwl::qt::toWString(text),
                                    dwl::ui::BalloonLevel::Information);
        },
        "");
    EXPECT_LT(burst.elapsed, std::chrono::milliseconds(1000)) << "waited for the service";
    EXPECT_TRUE(QTest::qWaitFor([&] { return burst.eventsRan; }, 1000));
}

TEST(DesktopNotifications, AServiceThatAnswersLateHoldsNothingUpAndShowsTheLastBalloon)
{
    test::qtApplication();
    PrivateSessionBus& bus = PrivateSessionBus::forProcess();
    if (!bus.ready())
        GTEST_SKIP() << "no dbus-daemon (scripts/install-deps)";
    bus.service().setAnswerDelay(std::chrono::milliseconds(1500));
    std::vector<QString> fallen;
    dwl::qt::DesktopNotifications notifications([&](const auto& balloon) { fallen.push_back(balloon.body); });
    // While the capabilities are asked for, and while a notification is on its way, the balloons wait: only
    // the last of them is sent, in place of the one before.
    for (const char* prefix : {"a", "b"})
    {
        const Burst burst(notifications, prefix);
        EXPECT_EQ(burst.taken, 20);
        EXPECT_LT(burst.elapsed, std::chrono::milliseconds(1000)) << "waited for the service";
        EXPECT_TRUE(QTest::qWaitFor([&] { return burst.eventsRan; }, 1000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return bus.service().shown().size() == (*prefix == 'a' ? 1u : 2u); }, 10000));
    }
    QTest::qWait(2000);
    const auto shown = bus.service().shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].body, "'a19.txt' has been downloaded");
    EXPECT_EQ(shown[1].body, "'b19.txt' has been downloaded");
    EXPECT_EQ(shown[1].replacesId, shown[0].id);
    EXPECT_EQ(bus.service().calls("GetCapabilities"), 1);
    EXPECT_TRUE(fallen.empty());

    // Another program takes the service over: its capabilities are asked, and nothing of the old one
    // replaced.
    bus.service().setAnswerDelay(std::chrono::milliseconds(0));
    ASSERT_TRUE(bus.changeOwner());
    EXPECT_TRUE(QTest::qWaitFor([&] { return bus.service().calls("GetCapabilities") == 2; }, 10000));
    EXPECT_TRUE(notifications.show({"Quillmere Wayfold", "after", dwl::ui::BalloonLevel::Error}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bus.service().shown().size() == 3; }, 10000));
    EXPECT_EQ(bus.service().shown()[2].replacesId, 0u);
}

TEST(DesktopNotifications, AServiceThatNeverAnswersHoldsNothingUpAndTheTrayShowsTheBalloons)
{
    test::qtApplication();
    PrivateSessionBus& bus = PrivateSessionBus::forProcess();
    if (!bus.ready())
        GTEST_SKIP() << "no dbus-daemon (scripts/install-deps)";
    bus.service().setAnswerDelay(std::nullopt);
    std::vector<QString> fallen;
    dwl::qt::DesktopNotifications notifications([&](const auto& balloon) { fallen.push_back(balloon.body); });
    notifications.setCallTimeout(std::chrono::milliseconds(500));
    const Burst burst(notifications, "");
    EXPECT_EQ(burst.taken, 20);
    EXPECT_LT(burst.elapsed, std::chrono::milliseconds(1000)) << "waited for the service";
    EXPECT_TRUE(QTest::qWaitFor([&] { return burst.eventsRan; }, 1000));

    // Once the service counts as absent, the last balloon falls back to the tray, and so do the next ones.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fallen.empty(); }, 10000));
    EXPECT_EQ(fallen, std::vector<QString>{"'19.txt' has been downloaded"});
    EXPECT_FALSE(notifications.show({"Quillmere Wayfold", "next", dwl::ui::BalloonLevel::Error}));
    EXPECT_EQ(bus.service().calls("GetCapabilities"), 1);
    EXPECT_EQ(bus.service().calls("Notify"), 0);
}

TEST(DesktopNotifications, ABalloonTheServiceLeavesUnansweredGoesToTheTrayAndSoDoTheNextUntilItAnswersAgain)
{
    test::qtApplication();
    PrivateSessionBus& bus = PrivateSessionBus::forProcess();
    if (!bus.ready())
        GTEST_SKIP() << "no dbus-daemon (scripts/install-deps)";
    using namespace std::chrono_literals;
    // A hung service, and one that starts slowly: its first answer comes after the call's time.
    using Delay = std::optional<std::chrono::milliseconds>;
    for (const auto& [late, delay] :
         {std::pair<const char*, Delay>{"Notify", std::nullopt}, {"GetCapabilities", 1400ms}})
    {
        SCOPED_TRACE(late);
        bus.service().reset();
        bus.service().setAnswerDelay(delay, late);
        std::vector<QString> fallen;
        dwl::qt::DesktopNotifications notifications([&](const auto& balloon)
                                                    { fallen.push_back(balloon.body); });
        notifications.setCallTimeout(1000ms);
        notifications.setRetryInterval(500ms);
        EXPECT_TRUE(notifications.show({"Quillmere Wayfold", "first", dwl::ui::BalloonLevel::Error}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fallen.empty(); }, 10000));
        EXPECT_EQ(fallen, std::vector<QString>{"first"});
        EXPECT_FALSE(notifications.show({"Quillmere Wayfold", "second", dwl::ui::BalloonLevel::Error}));

        // Answering again: asked again after a while, and used.
        bus.service().setAnswerDelay(0ms, late);
        const int asked = bus.service().calls("GetCapabilities");
        ASSERT_TRUE(QTest::qWaitFor([&] { return bus.service().calls("GetCapabilities") > asked; }, 10000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return notifications.show({"Quillmere Wayfold", "third", dwl::ui::BalloonLevel::Error});
            },
            10000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&]
            {
                const auto shown = bus.service().shown();
                return !shown.empty() && shown.back().body == "third";
            },
            10000));
        EXPECT_EQ(fallen, std::vector<QString>{"first"});
    }
}

TEST(QtNotificationArea, MenuFollowsTheItemsAndRunsTheirCommands)
{
    PrivateSessionBus::forProcess(); // before the area connects to the session bus
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
} // namespace
