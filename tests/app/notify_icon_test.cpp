#include "app/NotifyIcon.h"

#include "FakeNotificationArea.h"
#include "FakeScheduler.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace
{
test::LogCapture logCapture;

struct Tray
{
    int sleeps = 0;
    test::FakeNotificationArea area;
    test::FakeScheduler clock;
    win32::NotifyIcon icon{area, [this](std::chrono::milliseconds) { ++sleeps; }, clock.scheduler()};
};

std::vector<std::wstring> texts(const Tray& tray)
{
    std::vector<std::wstring> shown;
    for (const test::Balloon& balloon : tray.area.balloons)
        shown.push_back(balloon.text);
    return shown;
}

TEST(NotifyIcon, NoBalloonTakesThePlaceOfAFailureBeforeItHadItsTime)
{
    using L = dwl::ui::BalloonLevel;
    using namespace std::chrono_literals;
    Tray tray;
    tray.icon.AddIconToTaskbar();
    tray.icon.ShowBalloon(L"y.txt could not be downloaded", L"T", L::Error);
    tray.icon.ShowBalloon(L"a.txt has been downloaded", L"T", L::Information);
    tray.icon.ShowBalloon(L"b.txt has been downloaded", L"T", L::Information);
    tray.clock.pass(5s);
    tray.icon.ShowBalloon(L"server unavailable", L"T", L::Warning); // waits its turn
    tray.clock.pass(5s - 1ms);
    EXPECT_EQ(texts(tray), std::vector<std::wstring>{L"y.txt could not be downloaded"});
    tray.clock.pass(1ms);
    tray.icon.ShowBalloon(L"c.txt has been downloaded", L"T", L::Information);
    tray.clock.pass(10s); // the last information comes once the failures have had their time
    EXPECT_EQ(texts(tray), (std::vector<std::wstring>{L"y.txt could not be downloaded", L"server unavailable",
                                                      L"c.txt has been downloaded"}));
    EXPECT_EQ(tray.area.balloons[1].level, L::Warning);
    EXPECT_EQ(tray.area.balloons[2].level, L::Information);

    // Shown late by the tray, after the notification service left it unanswered: its time starts then.
    tray.icon.ShowBalloon(L"x.txt could not be downloaded", L"T", L::Error);
    tray.icon.ShowBalloon(L"v.txt could not be downloaded", L"T", L::Error);
    tray.clock.pass(5s);
    tray.icon.onBalloonShownLate();
    tray.clock.pass(10s - 1ms);
    EXPECT_EQ(tray.area.balloons.back().text, L"x.txt could not be downloaded");
    tray.clock.pass(1ms);
    EXPECT_EQ(tray.area.balloons.back().text, L"v.txt could not be downloaded");
    tray.clock.pass(10s);

    tray.icon.ShowBalloon(L"z.txt could not be downloaded", L"T", L::Error);
    tray.icon.ShowBalloon(L"w.txt could not be downloaded", L"T", L::Error);
    tray.icon.ShowBalloon(L"d.txt has been downloaded", L"T", L::Information);
    tray.icon.Hide(); // what waits goes with the icon
    tray.clock.pass(1min);
    EXPECT_EQ(tray.area.balloons.back().text, L"z.txt could not be downloaded");
}

TEST(NotifyIcon, FailuresOfOnePassAreEachSeenForTheirTimeAndThoseBeyondTheLimitInOneBalloon)
{
    using namespace std::chrono_literals;
    const auto hold = win32::NotifyIcon::kFailureHoldTime;
    const std::size_t ownBalloons = 1 + win32::NotifyIcon::kMaxWaitingFailures;
    for (const std::size_t failures : {2u, 5u, 9u})
    {
        SCOPED_TRACE(failures);
        Tray tray;
        tray.icon.setMoreProblemsText([](unsigned count) { return std::to_wstring(count) + L" more"; });
        tray.icon.AddIconToTaskbar();
        std::vector<std::wstring> expected;
        for (std::size_t i = 0; i < failures; ++i)
        {
            const std::wstring text = L"failure " + std::to_wstring(i);
            tray.icon.ShowBalloon(text, L"T",
                                  i % 2 ? dwl::ui::BalloonLevel::Warning : dwl::ui::BalloonLevel::Error);
            if (i < ownBalloons)
                expected.push_back(text);
        }
        if (failures > ownBalloons)
            expected.push_back(std::to_wstring(failures - ownBalloons) + L" more");
        for (std::size_t shown = 1; shown <= expected.size(); ++shown)
        {
            EXPECT_EQ(tray.area.balloons.size(), shown);
            tray.clock.pass(hold - 1ms);
            EXPECT_EQ(tray.area.balloons.size(), shown) << "the slot was kept for less than its time";
            tray.clock.pass(1ms);
        }
        EXPECT_EQ(texts(tray), expected);
        if (failures > ownBalloons)
        {
            EXPECT_EQ(tray.area.balloons.back().level,
                      dwl::ui::BalloonLevel::Error); // the highest it stands for
        }
    }
}

TEST(NotifyIcon, AddIsRetriedUntilTheTrayHostTakesItAndGivesUpAfterFiftyRetries)
{
    Tray late;
    late.area.refusedAdds = 3;
    const std::size_t from = logCapture.lineCount();
    late.icon.AddIconToTaskbar();
    EXPECT_TRUE(late.area.shown);
    EXPECT_EQ(late.sleeps, 3);
    EXPECT_EQ(logCapture.count("Operation failed. Trying again...", from), 3u);
    EXPECT_EQ(logCapture.count("Operation finally succeeded.", from), 1u);

    Tray never;
    never.area.refusedAdds = 1000;
    never.icon.AddIconToTaskbar();
    EXPECT_EQ(never.area.addCalls, 51);
    EXPECT_TRUE(never.icon.isAdded()); // so that a restarted tray host brings it back
    never.area.refusedAdds = 0;
    never.icon.onTrayHostRestarted();
    EXPECT_TRUE(never.area.shown);
}

TEST(NotifyIcon, TrayHostRestartAddsTheIconAgainOnlyWhileItIsAdded)
{
    Tray tray;
    tray.icon.onTrayHostRestarted();
    EXPECT_EQ(tray.area.addCalls, 0);
    tray.icon.AddIconToTaskbar();
    tray.area.shown = false; // the host went away and came back
    tray.icon.onTrayHostRestarted();
    EXPECT_TRUE(tray.area.shown);
    tray.icon.Hide();
    tray.icon.onTrayHostRestarted();
    EXPECT_FALSE(tray.area.shown);
    EXPECT_EQ(tray.area.addCalls, 2);
}

TEST(NotifyIcon, TextsAreCutToTheirLimitsWithoutSplittingASurrogatePair)
{
    Tray tray;
    tray.icon.AddIconToTaskbar();
    tray.icon.SetToolTip(std::wstring(130, L'x'));
    EXPECT_EQ(tray.area.toolTip, std::wstring(127, L'x'));
    tray.icon.SetToolTip(std::wstring(126, L'x') + L"\xD83D\xDE00");
    EXPECT_EQ(tray.area.toolTip, std::wstring(126, L'x'));

    tray.icon.ShowBalloon(std::wstring(300, L't'), std::wstring(70, L'T'), dwl::ui::BalloonLevel::Warning);
    ASSERT_EQ(tray.area.balloons.size(), 1u);
    EXPECT_EQ(tray.area.balloons[0].text, std::wstring(255, L't'));
    EXPECT_EQ(tray.area.balloons[0].title, std::wstring(63, L'T'));
    EXPECT_EQ(tray.area.balloons[0].level, dwl::ui::BalloonLevel::Warning);
}

TEST(NotifyIcon, AClickGestureRunsTheDefaultItemOnceEvenWhenItIsADoubleClick)
{
    using A = win32::NotifyIcon::Activation;
    Tray tray;
    std::vector<unsigned> posted;
    tray.icon.setOwner([&](unsigned command) { posted.push_back(command); });
    tray.icon.onActivated(A::Click); // no default item yet
    tray.icon.setContextMenu({{{0x8008, L"&Open"}, {0x8007, L"&Exit"}}, 0x8008});
    tray.icon.onActivated(A::Click);
    tray.icon.onActivated(A::DoubleClick); // the second half of the same gesture
    tray.icon.onActivated(A::Context);
    EXPECT_EQ(posted, (std::vector<unsigned>{0x8008}));
    EXPECT_EQ(tray.area.menu.items.size(), 2u);

    // A tray host that reports only the double click.
    Tray doubleOnly;
    posted.clear();
    doubleOnly.icon.setOwner([&](unsigned command) { posted.push_back(command); });
    doubleOnly.icon.setContextMenu({{{0x8008, L"&Open"}}, 0x8008});
    doubleOnly.icon.onActivated(A::DoubleClick);
    EXPECT_EQ(posted, (std::vector<unsigned>{0x8008}));
}
} // namespace
