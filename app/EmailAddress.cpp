#include "app/EmailAddress.h"

#include <algorithm>
#include <string_view>

namespace dwl
{
namespace
{
bool isAtext(wchar_t c)
{
    if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'))
        return true;
    return std::wstring_view(L"!#$%&'*+-/=?^_`{|}~").find(c) != std::wstring_view::npos;
}

bool isDotAtom(std::wstring_view text)
{
    bool atomStarted = false;
    for (const wchar_t c : text)
    {
        if (c == L'.')
        {
            if (!atomStarted)
                return false; // a leading dot, or two in a row
            atomStarted = false;
        }
        else if (isAtext(c))
            atomStarted = true;
        else
            return false;
    }
    return atomStarted; // not empty, no trailing dot
}
} // namespace

bool isValidEmailAddress(const std::wstring& text)
{
    const auto at = text.find(L'@');
    if (at == std::wstring::npos)
        return false;
    const std::wstring_view view(text);
    return isDotAtom(view.substr(0, at)) && isDotAtom(view.substr(at + 1));
}
bool isSameEmailAddress(const std::wstring& a, const std::wstring& b)
{
    const auto lower = [](wchar_t c)
    { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](wchar_t x, wchar_t y) { return lower(x) == lower(y); });
}
} // namespace dwl
