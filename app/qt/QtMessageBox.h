#pragma once

#include "app/ui/MessageBox.h"

namespace dwl::qt
{
class QtMessageBox : public ui::MessageBox
{
public:
    int show(HWND owner, const std::wstring& text, const std::wstring& caption, unsigned flags) override;
};

// Line breaks written "\r\n" become "\n", which Qt lays out as one break.
std::wstring withQtLineBreaks(const std::wstring& text);
} // namespace dwl::qt
