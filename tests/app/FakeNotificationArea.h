#pragma once
// A notification area that records what it is asked and refuses as many adds as the test says.

#include "app/ui/NotificationArea.h"

#include <string>
#include <vector>

namespace test
{
struct Balloon
{
    std::wstring title;
    std::wstring text;
    dwl::ui::BalloonLevel level;
    friend bool operator==(const Balloon&, const Balloon&) = default;
};

class FakeNotificationArea : public dwl::ui::NotificationArea
{
public:
    bool add(dwl::ui::TrayPicture picture, const std::wstring& toolTip) override
    {
        ++addCalls;
        if (refusedAdds > 0)
        {
            --refusedAdds;
            return false;
        }
        shown = true;
        this->picture = picture;
        this->toolTip = toolTip;
        return true;
    }
    bool modify(dwl::ui::TrayPicture picture, const std::wstring& toolTip) override
    {
        if (!shown)
            return false;
        this->picture = picture;
        this->toolTip = toolTip;
        return true;
    }
    bool remove() override
    {
        const bool was = shown;
        shown = false;
        return was;
    }
    bool showBalloon(const std::wstring& title, const std::wstring& text, dwl::ui::BalloonLevel level) override
    {
        balloons.push_back({title, text, level});
        return true;
    }
    void setContextMenu(const dwl::ui::ContextMenu& menu) override { this->menu = menu; }

    int refusedAdds = 0;
    int addCalls = 0;
    bool shown = false;
    dwl::ui::TrayPicture picture = dwl::ui::TrayPicture::Offline;
    std::wstring toolTip;
    std::vector<Balloon> balloons;
    dwl::ui::ContextMenu menu;
};
} // namespace test
