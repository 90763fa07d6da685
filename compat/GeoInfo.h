#pragma once
// The user's country, shaped like the platform's GetUserGeoID and GetGeoInfoW. The country is the territory
// of the user's locale: the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty, as in
// "de_CH.UTF-8" (CH). A locale without a two-letter territory ("C", "POSIX", "es_419") has no country.

#include "compat/Types.h"

#include <optional>
#include <string>

using GEOID = LONG;
using GEOCLASS = DWORD;
using GEOTYPE = DWORD;
using LANGID = WORD;

inline constexpr GEOID GEOID_NOT_AVAILABLE = -1;
inline constexpr GEOCLASS GEOCLASS_NATION = 16;
inline constexpr GEOTYPE GEO_ISO2 = 4;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;

// The nation of the user's locale, or GEOID_NOT_AVAILABLE when the locale names none.
GEOID GetUserGeoID(GEOCLASS geoClass);

// Only GEO_ISO2 is known: writes the two upper-case letters and a terminating zero and returns 3 (the size
// needed when `size` is 0). Returns 0 and sets the last error for an unknown id (ERROR_INVALID_PARAMETER),
// another type (ERROR_INVALID_FLAGS) or a buffer that is too small (ERROR_INSUFFICIENT_BUFFER).
int GetGeoInfoW(GEOID location, GEOTYPE type, LPWSTR data, int size, LANGID language);

namespace compat
{
// Tests set the locale name read in place of the environment; std::nullopt returns to the environment.
void setUserLocaleForTesting(std::optional<std::string> localeName);

// The territory of a locale name ("en_GB.UTF-8@euro" gives "GB"); empty when it has none.
std::string territoryOfLocale(const std::string& localeName);
} // namespace compat
