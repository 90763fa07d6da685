#include "compat/GeoInfo.h"

#include "compat/LastError.h"

#include <cstdlib>
#include <fstream>
#include <mutex>

namespace
{
std::mutex testingMutex;
std::optional<std::string> localeOverride;
std::optional<std::vector<std::string>> systemFilesOverride;

// The settings that say where the user is come first; the language's come last.
const char* const localeVariables[] = {
    "LC_ALL",         "LC_ADDRESS", "LC_TELEPHONE", "LC_MONETARY", "LC_PAPER",
    "LC_MEASUREMENT", "LC_NUMERIC", "LC_TIME",      "LC_MESSAGES", "LANG"};

// The value of `variable` in a KEY=VALUE file of the system's default locale, quotes removed.
std::string systemSetting(const std::vector<std::string>& files, const std::string& variable)
{
    for (const std::string& file : files)
    {
        std::ifstream input(file);
        for (std::string line; std::getline(input, line);)
        {
            if (line.compare(0, variable.size() + 1, variable + "=") != 0)
                continue;
            std::string value = line.substr(variable.size() + 1);
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return value;
        }
    }
    return {};
}

std::string userTerritory()
{
    std::vector<std::string> systemFiles{"/etc/default/locale", "/etc/locale.conf"};
    {
        std::lock_guard lock(testingMutex);
        if (localeOverride)
            return compat::territoryOfLocale(*localeOverride);
        if (systemFilesOverride)
            systemFiles = *systemFilesOverride;
    }
    for (const char* variable : localeVariables)
    {
        const char* value = std::getenv(variable);
        const std::string territory = compat::territoryOfLocale(value != nullptr ? value : "");
        if (!territory.empty())
            return territory;
    }
    for (const char* variable : localeVariables)
    {
        const std::string territory = compat::territoryOfLocale(systemSetting(systemFiles, variable));
        if (!territory.empty())
            return territory;
    }
    return {};
}

bool isUpperLetter(char c)
{
    return c >= 'A' && c <= 'Z';
}

// A nation's id carries its two letters, so GetGeoInfoW can give them back without a table.
GEOID geoIdOfTerritory(const std::string& territory)
{
    return 0x10000 | (static_cast<GEOID>(territory[0]) << 8) | static_cast<GEOID>(territory[1]);
}

std::optional<std::string> codeOfGeoId(GEOID id)
{
    if (id == GEOID_WORLD)
        return "001";
    if ((id & ~0xFFFF) != 0x10000)
        return std::nullopt;
    const std::string territory{static_cast<char>((id >> 8) & 0xFF), static_cast<char>(id & 0xFF)};
    if (!isUpperLetter(territory[0]) || !isUpperLetter(territory[1]))
        return std::nullopt;
    return territory;
}
} // namespace

GEOID GetUserGeoID(GEOCLASS geoClass)
{
    if (geoClass != GEOCLASS_NATION)
        return GEOID_NOT_AVAILABLE;
    const std::string territory = userTerritory();
    return territory.empty() ? GEOID_WORLD : geoIdOfTerritory(territory);
}

int GetGeoInfoW(GEOID location, GEOTYPE type, LPWSTR data, int size, LANGID)
{
    if (type != GEO_ISO2)
    {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const auto code = codeOfGeoId(location);
    if (!code)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int needed = static_cast<int>(code->size()) + 1;
    if (size == 0)
        return needed;
    if (size < needed || data == nullptr)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (std::size_t i = 0; i < code->size(); ++i)
        data[i] = static_cast<wchar_t>((*code)[i]);
    data[code->size()] = L'\0';
    return needed;
}

namespace compat
{
void setUserLocaleForTesting(std::optional<std::string> localeName)
{
    std::lock_guard lock(testingMutex);
    localeOverride = std::move(localeName);
}

void setSystemLocaleFilesForTesting(std::optional<std::vector<std::string>> files)
{
    std::lock_guard lock(testingMutex);
    systemFilesOverride = std::move(files);
}

std::string territoryOfLocale(const std::string& localeName)
{
    // language[_territory][.codeset][@modifier]
    const std::size_t underscore = localeName.find('_');
    if (underscore == std::string::npos)
        return {};
    const std::size_t end = localeName.find_first_of(".@", underscore + 1);
    const std::string territory = localeName.substr(
        underscore + 1, end == std::string::npos ? std::string::npos : end - underscore - 1);
    if (territory.size() != 2 || !isUpperLetter(territory[0]) || !isUpperLetter(territory[1]))
        return {};
    return territory;
}
} // namespace compat
