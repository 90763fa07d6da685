#pragma once
// Lenient UTF-16 <-> UTF-8 conversion for the stand-in layer's own edges (environment, registry files,
// known folders). Invalid input becomes U+FFFD instead of failing: these texts come from the user's
// environment and files, and a setting must never make the platform layer throw.

#include <string>

namespace compat::text
{
std::string toUtf8(const std::wstring& utf16);
std::wstring toUtf16(const std::string& utf8);
} // namespace compat::text
