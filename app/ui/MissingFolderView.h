#pragma once
// The dialog shown when the Wayfold folder cannot be found at start: a message and Retry, Unlink, Exit.

#include "app/ui/DialogView.h"
#include "app/ui/MessageBox.h"

namespace dwl::ui
{
class MissingFolderView : public ButtonDialogView
{
public:
    // Control ids; each button closes the dialog with its id.
    enum : int
    {
        RetryButton = IDRETRY,
        UnlinkButton = IDABORT,
        ExitButton = IDCANCEL,
        MessageText = 1004, // read-only, scrolls
    };
};
} // namespace dwl::ui
