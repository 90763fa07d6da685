#pragma once
// The desktop's notification area (the tray), as the notification icon sees it. Every call answers whether
// the tray host took it; the notification icon decides what to retry and what to log.

#include <optional>
#include <string>
#include <vector>

namespace dwl::ui
{
// The pictures of the program's tray icon.
enum class TrayPicture
{
    Online,
    Offline,
    Synchronising,
};

// Balloon levels: information, warning, error.
enum class BalloonLevel
{
    Information = 1,
    Warning = 2,
    Error = 3,
};

// One entry of the context menu; command 0 is a separator.
struct MenuItem
{
    unsigned command = 0;
    std::wstring text;
    bool enabled = true;

    friend bool operator==(const MenuItem&, const MenuItem&) = default;
};

struct ContextMenu
{
    std::vector<MenuItem> items;
    std::optional<unsigned> defaultCommand; // shown in bold, run by a click on the icon

    MenuItem* find(unsigned command)
    {
        for (MenuItem& item : items)
            if (item.command == command && command != 0)
                return &item;
        return nullptr;
    }
};

class NotificationArea
{
public:
    virtual ~NotificationArea() = default;

    virtual bool add(TrayPicture picture, const std::wstring& toolTip) = 0;
    virtual bool modify(TrayPicture picture, const std::wstring& toolTip) = 0;
    virtual bool remove() = 0;
    // Texts are plain: the view shows markup characters as they are.
    virtual bool showBalloon(const std::wstring& title, const std::wstring& text, BalloonLevel level) = 0;
    // The menu shown on a right click, replaced whole.
    virtual void setContextMenu(const ContextMenu& menu) = 0;
};
} // namespace dwl::ui
