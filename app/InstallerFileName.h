#pragma once
// The name a downloaded installer is kept under.

#include <string>

namespace dwl
{
// The last segment of the address's path when it is a plain file name (letters, digits, ".", "-", "_", "+"
// and "~", not beginning with a dot, at most 255 bytes), so that the file says what it is; otherwise
// `fallback`.
std::wstring installerFileName(const std::string& url, const std::wstring& fallback);
} // namespace dwl
