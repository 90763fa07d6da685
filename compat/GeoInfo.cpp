#include "compat/GeoInfo.h"

#include "compat/LastError.h"

#include <cstdlib>
#include <mutex>

namespace
{
std::mutex localeMutex;
std::optional<std::string> localeOverride;

std::string userLocaleName()
{
    {
        std::lock_guard lock(localeMutex);
        if (localeOverride)
            return *localeOverride;
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
    {
        const char* value = std::getenv(variable);
        if (value && value[0] != '\0')
            return value;
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

std::optional<std::string> territoryOfGeoId(GEOID id)
{
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
    const std::string territory = compat::territoryOfLocale(userLocaleName());
    return territory.empty() ? GEOID_NOT_AVAILABLE : geoIdOfTerritory(territory);
}

int GetGeoInfoW(GEOID location, GEOTYPE type, LPWSTR data, int size, LANGID)
{
    if (type != GEO_ISO2)
    {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const auto territory = territoryOfGeoId(location);
    if (!territory)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    constexpr int needed = 3;
    if (size == 0)
        return needed;
    if (size < needed || data == nullptr)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    data[0] = static_cast<wchar_t>((*territory)[0]);
    data[1] = static_cast<wchar_t>((*territory)[1]);
    data[2] = L'\0';
    return needed;
}

namespace compat
{
void setUserLocaleForTesting(std::optional<std::string> localeName)
{
    std::lock_guard lock(localeMutex);
    localeOverride = std::move(localeName);
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
