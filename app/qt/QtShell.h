#pragma once

#include "app/ui/Shell.h"

namespace dwl::qt
{
class QtShell : public ui::Shell
{
public:
    bool openUrl(const std::string& url) override;
    bool openFolder(const std::wstring& path) override;
    std::optional<std::wstring>
    browseForFolder(HWND owner, const std::wstring& title, const std::wstring& startFolder,
                    const std::function<bool(const std::wstring&)>& canChoose) override;
};
} // namespace dwl::qt
