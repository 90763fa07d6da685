#pragma once
// The system's message texts: a table of the English texts of the codes this program uses, reached
// through a FormatMessageW-shaped call. A code outside the table has no text, as on a system that
// does not know it.

#include "compat/Types.h"

#include <string>

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// Writes the text of `messageId` (UTF-16 units, ending in "\r\n" as the system's texts do) into
// `buffer` of `size` units and returns its length without the terminating zero. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really a wchar_t** that receives a buffer to be freed
// with LocalFree. Returns 0 and sets the last error on failure: ERROR_MR_MID_NOT_FOUND (317) for an
// unknown code, ERROR_INSUFFICIENT_BUFFER when the text does not fit.
DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, wchar_t* buffer,
                     DWORD size, void* arguments);

HLOCAL LocalFree(HLOCAL memory);

namespace compat
{
// Replaces or adds a text of the table (UTF-16 units); for tests of multi-line texts.
void setSystemTextForTesting(DWORD code, const std::wstring& text);
} // namespace compat
