#pragma once
// Asked at start when the Wayfold folder can no longer be opened: retry, unlink or exit.

#include "app/ui/UserInterface.h"

#include <string>

namespace dwl
{
class MissingWayfoldFolderDlg
{
public:
    explicit MissingWayfoldFolderDlg(ui::UserInterface& ui) : mUi(ui) {}

    void setWayfoldFolder(const std::wstring& path) { mWayfoldFolder = path; }

    // ui::IDRETRY, ui::IDABORT (unlink) or ui::IDCANCEL (exit, also Escape and the close box).
    int DoModal(HWND parent);

private:
    ui::UserInterface& mUi;
    std::wstring mWayfoldFolder;
};
} // namespace dwl
