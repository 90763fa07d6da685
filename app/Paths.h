#pragma once
// Where the program keeps its per-user state and finds its server list. The data root is the local
// application-data folder plus "quillmere/Wayfold" (private to the user); it holds "Configuration", "Data"
// and "Lock".

#include <string>

namespace dwl::Paths
{
// The data root, created with its missing parents when missing; it and the maker folder above it are made
// private to the user (mode 0700) on every call. Throws qcl::basic_runtime_error<wchar_t> when no
// application-data folder is known (the data never goes to the current directory) or when either folder
// belongs to another user, and qcl::SystemError "Cannot create directory '%1%'" when a folder cannot be
// made.
std::wstring dataRoot();

std::wstring configurationFile();
std::wstring databaseFile();
std::wstring lockFile();

// The default parent of the Wayfold folder: the user's profile (home) folder. Throws when none is known.
std::wstring defaultFolderLocation();

// The Wayfold folder inside its configured parent folder.
std::wstring wayfoldFolder(const std::wstring& location);

// "Servers.json" beside the program when there is one, else the one installed with it
// (<prefix>/share/quillmere-wayfold for a program in <prefix>/bin).
std::wstring serverListFile();
std::wstring serverListFileFor(const std::wstring& programFolder);
} // namespace dwl::Paths
