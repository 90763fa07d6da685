#include "app/qt/SessionEvents.h"

#include "QtTestSupport.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace
{
TEST(SessionEvents, TermHangUpAndInterruptEndTheSessionOnTheMainThread)
{
    test::qtApplication();
    int ends = 0;
    {
        dwl::qt::SessionEvents events([] {}, [&] { ++ends; }, [](bool) {});
        for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        {
            const int before = ends;
            ASSERT_EQ(std::raise(signal), 0);
            EXPECT_TRUE(QTest::qWaitFor([&] { return ends == before + 1; }, 10000)) << signal;
        }
    }
    // Once the object is gone the signals have their default meaning again.
    struct sigaction current = {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

TEST(SessionEvents, TheSessionManagersQueryIsAnsweredWhileItWaits)
{
    test::qtApplication();
    int queries = 0;
    dwl::qt::SessionEvents events([&] { ++queries; }, [] {}, [](bool) {});
    QSessionManager* manager = qGuiApp->findChild<QSessionManager*>();
    ASSERT_NE(manager, nullptr);
    emit qGuiApp->commitDataRequest(*manager);
    EXPECT_EQ(queries, 1);
}
} // namespace
