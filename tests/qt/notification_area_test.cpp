#include "app/qt/QtNotificationArea.h"

#include "QtTestSupport.h"
#include "app/qt/Text.h"

#include <QAction>
#include <QTextDocument>

#include <gtest/gtest.h>

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
} // namespace
