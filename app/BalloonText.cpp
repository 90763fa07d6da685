#include "app/BalloonText.h"

#include "app/NotifyIcon.h"
#include "qcl/Format.h"

#include <algorithm>

namespace dwl
{
namespace
{
const wchar_t ellipsis = L'\x2026';

std::wstring render(const std::wstring& format, const std::vector<std::wstring>& arguments)
{
    boost::wformat text = qcl::makeFormat(format);
    for (const std::wstring& argument : arguments)
        text % argument;
    return text.str();
}
} // namespace

std::wstring fitBalloonText(const std::wstring& format, std::vector<std::wstring> arguments,
                            std::size_t limit)
{
    std::wstring text = render(format, arguments);
    // Every argument keeps a recognisable start before any is cut further.
    for (const std::size_t shortest : {std::size_t{12}, std::size_t{1}})
    {
        for (std::wstring& argument : arguments)
        {
            if (text.size() <= limit)
                return text;
            if (argument.size() <= shortest)
                continue;
            const std::size_t excess = text.size() - limit;
            const std::size_t keep =
                std::max(shortest, argument.size() > excess + 1 ? argument.size() - excess - 1 : 0);
            if (keep >= argument.size())
                continue;
            argument = win32::cutText(argument, keep) + ellipsis;
            text = render(format, arguments);
        }
    }
    return text.size() <= limit ? text : win32::cutText(text, limit);
}
} // namespace dwl
