#pragma once
// The thread's COM error information: just the description text that the program publishes and reads.

#include <optional>
#include <string>

namespace compat
{
void setErrorInfoDescription(const std::wstring& description);
// Takes the description out (a second call gives nothing), as GetErrorInfo does.
std::optional<std::wstring> takeErrorInfoDescription();
} // namespace compat
