#pragma once
// Window handles for Qt widgets: the application logic reads and writes a widget's text through its handle
// (the title of a window, the text of a label, edit or button). A handle lives as long as its widget.

#include "compat/WindowApi.h"

class QWidget;

namespace dwl::qt
{
// The widget's handle, registered on first use; main thread only.
HWND handleOf(QWidget* widget);
// The widget of a handle made by handleOf, or null.
QWidget* widgetOf(HWND handle);
} // namespace dwl::qt
