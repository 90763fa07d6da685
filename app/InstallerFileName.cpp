#include "app/InstallerFileName.h"

#include "qcl/String.h"

#include <algorithm>

namespace dwl
{
namespace
{
constexpr std::size_t maxFileName = 255;

bool isPlainFileName(const std::string& name)
{
    const auto plain = [](char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '-' || c == '_' || c == '+' || c == '~';
    };
    return !name.empty() && name.size() <= maxFileName && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), plain);
}
} // namespace

std::wstring installerFileName(const std::string& url, const std::wstring& fallback)
{
    const std::size_t scheme = url.find("://");
    const std::size_t pathStart = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (scheme == std::string::npos || pathStart == std::string::npos)
        return fallback;
    const std::size_t pathEnd = url.find_first_of("?#", pathStart);
    const std::string path =
        url.substr(pathStart, pathEnd == std::string::npos ? std::string::npos : pathEnd - pathStart);
    const std::string name = path.substr(path.rfind('/') + 1);
    return isPlainFileName(name) ? qcl::string::utf8ToUtf16(name) : fallback;
}
} // namespace dwl
