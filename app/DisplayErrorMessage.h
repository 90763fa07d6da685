#pragma once
// The one way the desktop application shows an error: a message box captioned with the product's name, the
// short message, and the long one after an empty line; the same text is logged at ERROR first.

#include "app/ui/MessageBox.h"

#include <string>

namespace dwl
{
// Returns the button pressed. `flags` go to the box unchanged (ui::MB_ICONERROR, ui::MB_SYSTEMMODAL, ...).
int displayErrorMessage(ui::MessageBox& messageBox, HWND owner, const std::wstring& shortMessage,
                        const std::wstring& longMessage, unsigned flags);
} // namespace dwl
