#pragma once

class QDialog;

namespace dwl::qt
{
// What every dialog of the program shares: a white background, the program icon, no help button.
void applyDialogStyle(QDialog& dialog);
} // namespace dwl::qt
