#pragma once
// The program's own data files: access for their owner alone, and the replacement of a file in one step.
// These stand in for the security descriptor that makes a file private to its user and for MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.

#include "compat/Types.h"

namespace compat
{
// Leaves the item to its owner alone: mode 0600 for a file, 0700 for a folder. FALSE with the last error on
// failure.
BOOL restrictToOwner(LPCWSTR path);

// Renames `source` over `target` in one step (an existing target is replaced) and flushes the folder, so that
// after a crash either the old or the new file is found. FALSE with the last error on failure.
BOOL replaceFile(LPCWSTR source, LPCWSTR target);
} // namespace compat
