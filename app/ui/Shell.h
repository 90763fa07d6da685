#pragma once
// What the desktop does for the application: open addresses and folders with the user's chosen programs,
// and let the user browse for a folder.

#include "compat/WindowApi.h"

#include <functional>
#include <optional>
#include <string>

namespace dwl::ui
{
class Shell
{
public:
    virtual ~Shell() = default;

    // Hands the address to the desktop's handler (never a shell command line); false when none took it.
    virtual bool openUrl(const std::string& url) = 0;
    // Opens the folder in the file manager; false when that failed.
    virtual bool openFolder(const std::wstring& path) = 0;

    // Modal folder browser over `owner`, starting at `startFolder`. Its OK button is enabled only while
    // `canChoose` accepts the selected folder. The chosen folder's path, or nothing when cancelled.
    virtual std::optional<std::wstring>
    browseForFolder(HWND owner, const std::wstring& title, const std::wstring& startFolder,
                    const std::function<bool(const std::wstring&)>& canChoose) = 0;
};
} // namespace dwl::ui
