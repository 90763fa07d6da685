#pragma once
// The user's places (the bookmarks of the desktop's file chooser and file manager), which stand in for the
// shell's Links folder: one "file://" address a line in $XDG_CONFIG_HOME/gtk-3.0/bookmarks.

#include "compat/Types.h"

#include <string>

namespace compat
{
// $XDG_CONFIG_HOME/gtk-3.0/bookmarks (when absolute), else $HOME/.config/gtk-3.0/bookmarks; empty when
// neither is known.
std::wstring folderBookmarksFile();

// Adds a line for `folder` to the bookmarks `file` unless one is there already. The file (and its folder) is
// made when missing and otherwise replaced in one step, so a reader never sees half of it. FALSE with the
// last error.
BOOL addFolderBookmark(const std::wstring& file, const std::wstring& folder);
} // namespace compat
