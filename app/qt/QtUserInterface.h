#pragma once
// The user interface on Qt 6 Widgets. Needs a QApplication; every call on the main thread.

#include "app/qt/QtMessageBox.h"
#include "app/qt/QtShell.h"
#include "app/ui/UserInterface.h"

namespace dwl::qt
{
class QtUserInterface : public ui::UserInterface
{
public:
    ui::MessageBox& messageBox() override { return mMessageBox; }
    ui::Shell& shell() override { return mShell; }

    std::unique_ptr<ui::ConfigurationView> newConfigurationView(HWND parent) override;
    std::unique_ptr<ui::MissingFolderView> newMissingFolderView(HWND parent) override;
    std::unique_ptr<ui::UnlinkView> newUnlinkView(HWND parent) override;

private:
    QtMessageBox mMessageBox;
    QtShell mShell;
};
} // namespace dwl::qt
