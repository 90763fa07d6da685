#pragma once
// Texts of windows and controls, by handle.

#include "compat/WindowApi.h"

#include <string>

namespace qcl
{
// The window's text, however long; an unknown handle gives an empty text.
std::wstring getWindowText(HWND window);

// Throws SystemError "Cannot set window text".
void setWindowText(HWND window, const std::wstring& text);
} // namespace qcl
