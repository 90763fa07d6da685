#pragma once
// The confirmation of an unlink: a warning text with Unlink and Cancel.

#include "app/ui/DialogView.h"
#include "app/ui/MessageBox.h"

namespace dwl::ui
{
class UnlinkView : public ButtonDialogView
{
public:
    // Control ids; each button closes the dialog with its id.
    enum : int
    {
        UnlinkButton = IDOK,
        CancelButton = IDCANCEL,
        MessageText = 1000,
    };
};
} // namespace dwl::ui
