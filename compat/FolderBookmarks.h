#pragma once
// The user's places (the bookmarks of the desktop's file chooser and file manager), which stand in for the
// shell's Links folder: one "file://" address a line in $XDG_CONFIG_HOME/gtk-3.0/bookmarks, optionally
// followed by a space and a label.

#include "compat/Types.h"

#include <string>

namespace compat
{
// $XDG_CONFIG_HOME/gtk-3.0/bookmarks (when absolute), else $HOME/.config/gtk-3.0/bookmarks; empty when
// neither is known.
std::wstring folderBookmarksFile();

// Makes `folder` the program's one bookmark in `file`. The program's bookmark is the line labelled `label`:
// it is moved to the folder in place; without one, a line for the folder is added unless the user has one.
// Every other line stays as it is.
// The file is replaced in one step, keeping its mode, and only when it was read whole and has not changed
// since: a file that cannot be read is left as it is. A file that is a symbolic link is written through, in
// place of its target, when that is a regular file of the user's; any other link is left alone. A missing
// file is made 0600, its missing folders 0700. FALSE with the last error.
BOOL setFolderBookmark(const std::wstring& file, const std::wstring& folder, const std::wstring& label);

// The bookmarks `text` with the program's line for `address` as setFolderBookmark writes it (UTF-8).
std::string withFolderBookmark(const std::string& text, const std::string& address, const std::string& label);
} // namespace compat
