#include "app/qt/ProgramIcon.h"

namespace dwl::qt
{
QIcon programIcon()
{
    return QIcon(QStringLiteral(":/icons/wayfold.png"));
}
} // namespace dwl::qt
