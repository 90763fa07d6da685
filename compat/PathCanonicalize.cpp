#include "compat/PathApi.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

BOOL PathCanonicalizeW(LPWSTR out, LPCWSTR path)
{
    if (out == nullptr || path == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring text(path);
    std::wstring prefix;
    if (text.compare(0, 4, compat::longPathPrefix) == 0)
    {
        prefix = text.substr(0, 4);
        text.erase(0, 4);
    }
    const bool absolute = !text.empty() && text.front() == L'/';
    const bool trailingSlash = text.size() > 1 && text.back() == L'/';

    std::vector<std::wstring> components;
    std::size_t start = 0;
    while (start <= text.size())
    {
        const auto end = std::min(text.find(L'/', start), text.size());
        const std::wstring component = text.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == L".")
            continue;
        if (component == L"..")
        {
            if (!components.empty() && components.back() != L"..")
                components.pop_back();
            else if (!absolute)
                components.push_back(component);
            continue;
        }
        components.push_back(component);
    }

    std::wstring result = prefix;
    if (absolute)
        result += L'/';
    else if (prefix.empty() && !components.empty() && components.front().compare(0, 4, compat::longPathPrefix) == 0)
        result += L"./"; // a first name that begins like the prefix must not turn into it
    for (std::size_t i = 0; i < components.size(); ++i)
    {
        if (i != 0)
            result += L'/';
        result += components[i];
    }
    if (components.empty() && !absolute)
        result += text.empty() ? L"" : L".";
    else if (trailingSlash && !components.empty())
        result += L'/';
    std::copy(result.begin(), result.end(), out);
    out[result.size()] = 0;
    return TRUE;
}
