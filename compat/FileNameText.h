#pragma once
// File names at the file-system edge of the layer. Names on disk are bytes, usually but not always UTF-8.
// The conversion is lossless: a byte that is not part of a valid UTF-8 sequence (always 0x80-0xFF)
// becomes the lone unit U+DC80-U+DCFF, and such a unit becomes that byte again. Valid UTF-8 never
// encodes a surrogate, so the two directions are inverse.

#include "compat/Types.h"

#include <string>

namespace compat
{
std::wstring fileNameToUtf16(const std::string& bytes);

// False when the text has no byte form: a lone surrogate outside U+DC80-U+DCFF, or a zero unit.
bool utf16ToFileName(const wchar_t* begin, const wchar_t* end, std::string& bytes);

// A path's bytes as they go into a "file://" address or a trash record: everything but unreserved characters
// and "/" percent-encoded.
std::string percentEncodedPath(const std::string& path);

// The long-path prefix "\\?\" of the Windows form.
inline constexpr wchar_t longPathPrefix[] = L"\\\\?\\";

// The native path for a path handed to the layer: the long-path prefix dropped, the rest converted.
// False with the last error ERROR_INVALID_NAME (ERROR_INVALID_PARAMETER for a null pointer) when that
// cannot be done.
bool toSystemPath(LPCWSTR path, std::string& systemPath);
} // namespace compat
