#pragma once
// What every dialog view offers the application's dialog logic: the dialog's own window and the controls
// whose texts the logic reads or writes, by handle (qcl::getWindowText, qcl::setWindowText). The handles
// are valid while the view is running.

#include "compat/WindowApi.h"

#include <functional>

namespace dwl::ui
{
class DialogView
{
public:
    virtual ~DialogView() = default;

    virtual HWND window() = 0;
    // The control with that id; null when the dialog has none.
    virtual HWND control(int id) = 0;
};

// A modal dialog that closes with the id of the button pressed.
class ButtonDialogView : public DialogView
{
public:
    // Builds the dialog, runs `onInit` before it is shown, and returns the id of the button that closed
    // it; Escape and the close box give IDCANCEL.
    virtual int run(const std::function<void()>& onInit) = 0;
    // Brings a running dialog to the front of the user's windows.
    virtual void bringToFront() = 0;
};
} // namespace dwl::ui
