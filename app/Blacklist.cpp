#include "app/Blacklist.h"

#include "qcl/Log.h"

#include <regex>

namespace dwl
{
std::wstring joinBlacklist(const std::vector<std::wstring>& items)
{
    std::wstring pattern;
    for (const std::wstring& item : items)
    {
        try
        {
            std::wregex(item, std::regex::ECMAScript);
        }
        catch (const std::regex_error& error)
        {
            QCL_LOG_WARN(L"Ignored blacklist item " << qcl::string::escaped(item, L'\'') << L": "
                                                    << error.what());
            continue;
        }
        if (!pattern.empty())
            pattern += L'|';
        pattern += L"(?:" + item + L')';
    }
    return pattern;
}
} // namespace dwl
