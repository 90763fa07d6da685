#pragma once
// The program's name on the desktop: its desktop entry (wayfold.desktop) and its icon, as installed.

namespace dwl
{
inline constexpr const char* desktopName = "wayfold";
} // namespace dwl
