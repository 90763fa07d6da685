#pragma once

#include "app/ui/UserInterface.h"

#include <memory>

namespace dwl
{
// The confirmation of an unlink. While it runs, a second request brings it to the front.
class UnlinkDialog
{
public:
    explicit UnlinkDialog(ui::UserInterface& ui) : mUi(ui) {}

    // ui::IDOK to unlink, ui::IDCANCEL otherwise (also Escape and the close box).
    int DoModal(HWND parent);
    bool isShown() const { return mView != nullptr; }
    void bringToFront();

private:
    ui::UserInterface& mUi;
    std::unique_ptr<ui::UnlinkView> mView; // while it runs
};
} // namespace dwl
