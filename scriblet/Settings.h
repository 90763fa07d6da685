#pragma once
// The library's registry settings: key "SOFTWARE\Quillmere\<section>[\<sub-key>]", current user first,
// then the machine.

#include <string>

namespace qcl::settings
{
// Reads the string value `valueName` into `out`. With `currentUserFirst` the current user's key is
// tried first and, when it cannot be opened or lacks the value and `fallBack` is set, the machine's;
// without it only the machine's is read. Only string values count; a stored empty string is found
// with empty text. Returns false and clears `out` when nothing is found. A null `section` or
// `valueName` throws std::runtime_error.
bool get_string(std::wstring& out, const wchar_t* section, const wchar_t* subKey, const wchar_t* valueName,
                bool currentUserFirst = true, bool fallBack = true);
} // namespace qcl::settings
