#include "compat/ErrorInfo.h"

namespace
{
thread_local std::optional<std::wstring> tDescription;
}

namespace compat
{
void setErrorInfoDescription(const std::wstring& description)
{
    tDescription = description;
}

std::optional<std::wstring> takeErrorInfoDescription()
{
    std::optional<std::wstring> taken;
    taken.swap(tDescription);
    return taken;
}
} // namespace compat
