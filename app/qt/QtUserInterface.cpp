#include "app/qt/QtUserInterface.h"

#include "app/qt/QtButtonDialogView.h"
#include "app/qt/QtConfigurationView.h"
#include "app/qt/WindowHandles.h"

namespace dwl::qt
{
std::unique_ptr<ui::ConfigurationView> QtUserInterface::newConfigurationView(HWND parent)
{
    return std::make_unique<QtConfigurationView>(widgetOf(parent));
}

std::unique_ptr<ui::MissingFolderView> QtUserInterface::newMissingFolderView(HWND parent)
{
    return qt::newMissingFolderView(widgetOf(parent));
}

std::unique_ptr<ui::UnlinkView> QtUserInterface::newUnlinkView(HWND parent)
{
    return qt::newUnlinkView(widgetOf(parent));
}
} // namespace dwl::qt
