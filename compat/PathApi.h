#pragma once
// The path canonicalisation call, on native paths ("/" separates). Purely textual: nothing on disk
// is looked at.

#include "compat/Types.h"

// Writes `path` to `out` with "." components removed and each ".." taken back with the component
// before it; ".." above the root of an absolute path is dropped, leading ".." of a relative path
// stay. Repeated "/" become one. A trailing "/" stays; a text that loses all its components becomes
// "/" when absolute and "." otherwise. A leading long-path prefix "\\?\" is kept. `out` must hold
// the length of `path` plus 2 units. FALSE (ERROR_INVALID_PARAMETER) for a null pointer.
BOOL PathCanonicalizeW(LPWSTR out, LPCWSTR path);
