#pragma once

#include <QIcon>

namespace dwl::qt
{
// The program's icon, compiled into the program.
QIcon programIcon();
} // namespace dwl::qt
