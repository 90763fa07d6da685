#pragma once
// The modes of the files and folders the program makes: the usual ones without write for the group and
// others, whatever the umask. What lies in the Wayfold folder is sent to the server under the user's account,
// so nobody else may change it. A stricter umask still applies; private files and folders (0600, 0700) have
// their own.

#include <sys/types.h>

namespace compat
{
inline constexpr mode_t newFileMode = 0644;
inline constexpr mode_t newFolderMode = 0755;
} // namespace compat
