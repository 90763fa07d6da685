#include "app/qt/DialogStyle.h"

#include "app/qt/ProgramIcon.h"

#include <QDialog>
#include <QPalette>

namespace dwl::qt
{
void applyDialogStyle(QDialog& dialog)
{
    QPalette palette = dialog.palette();
    palette.setColor(QPalette::Window, Qt::white);
    dialog.setPalette(palette);
    dialog.setAutoFillBackground(true);
    dialog.setWindowIcon(programIcon());
    dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}
} // namespace dwl::qt
