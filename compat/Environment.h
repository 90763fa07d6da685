#pragma once
// Environment variables of the process, Windows-shaped, over the C library's environment (values
// are kept as UTF-8 there).

#include "compat/Types.h"

#include <optional>
#include <string>

inline constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;

// Copies the value of `name` into `buffer` of `size` units and returns its length without the
// terminating zero; when it does not fit, returns the size needed including the zero. An unset
// variable gives 0 with ERROR_ENVVAR_NOT_FOUND.
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);

// Sets `name` to `value`; a null value removes the variable. FALSE with ERROR_INVALID_PARAMETER
// for an empty name or one holding "=".
BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);

// Replaces every %NAME% of `source` whose variable is set by its value; other text is kept as it is.
// Returns the size of the result including the terminating zero; writes it only when `size` is
// enough.
DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);

namespace compat
{
// The value of `name`, or nothing when it is unset.
std::optional<std::wstring> environmentVariable(const std::wstring& name);
} // namespace compat
