#pragma once
// The toolkit behind the application's windows: message boxes, the desktop shell and the dialog views.
// The application logic holds only this interface, so it runs with a recording fake in tests.

#include "app/ui/ConfigurationView.h"
#include "app/ui/MessageBox.h"
#include "app/ui/MissingFolderView.h"
#include "app/ui/Shell.h"
#include "app/ui/UnlinkView.h"

#include <memory>

namespace dwl::ui
{
class UserInterface
{
public:
    virtual ~UserInterface() = default;

    virtual MessageBox& messageBox() = 0;
    virtual Shell& shell() = 0;

    // Views of modal dialogs over `parent` (null: centred on the screen), to be run once.
    virtual std::unique_ptr<ConfigurationView> newConfigurationView(HWND parent) = 0;
    virtual std::unique_ptr<MissingFolderView> newMissingFolderView(HWND parent) = 0;
    virtual std::unique_ptr<UnlinkView> newUnlinkView(HWND parent) = 0;
};
} // namespace dwl::ui
