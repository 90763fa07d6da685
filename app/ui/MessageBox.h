#pragma once
// Message boxes: a text, a caption, buttons and an icon chosen by flags, shown modally over an owner window.

#include "compat/WindowApi.h"

#include <string>

namespace dwl::ui
{
// Buttons (low nibble), icons and modality, combined with "|".
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_SYSTEMMODAL = 0x1000;

// Results: the button that closed a box or a dialog.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

class MessageBox
{
public:
    virtual ~MessageBox() = default;

    // Shows `text` as plain text (never markup) and returns the button pressed; closing the box counts as
    // its cancelling button (IDOK for a box with OK alone). A null owner centres the box on the screen.
    virtual int show(HWND owner, const std::wstring& text, const std::wstring& caption, unsigned flags) = 0;
};
} // namespace dwl::ui
