#include "app/NotifyIcon.h"

#include "FakeNotificationArea.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace
{
test::LogCapture logCapture;

struct Tray
{
    int sleeps = 0;
    test::FakeNotificationArea area;
    win32::NotifyIcon icon{area, [this](std::chrono::milliseconds) { ++sleeps; }};
};

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
