#pragma once
// The user's country, shaped like the platform's GetUserGeoID and GetGeoInfoW. The country is the territory
// ("de_CH.UTF-8" gives CH) of the first locale that names one, in this order: the locale variables that say
// where the user is (LC_ALL, LC_ADDRESS, LC_TELEPHONE, LC_MONETARY, LC_PAPER, LC_MEASUREMENT, LC_NUMERIC,
// LC_TIME), then LC_MESSAGES and LANG, then the same settings in the system's default locale
// (/etc/default/locale, /etc/locale.conf). When none names a territory ("C", "POSIX", "es_419" everywhere),
// the user is in the world at large: the world's id, whose code is "001" (UN M.49), a code that names no
// country.

#include "compat/Types.h"

#include <optional>
#include <string>
#include <vector>

using GEOID = LONG;
using GEOCLASS = DWORD;
using GEOTYPE = DWORD;
using LANGID = WORD;

inline constexpr GEOID GEOID_NOT_AVAILABLE = -1;
inline constexpr GEOID GEOID_WORLD = 39070;
inline constexpr GEOCLASS GEOCLASS_NATION = 16;
inline constexpr GEOTYPE GEO_ISO2 = 4;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;

// The nation of the user's locale, GEOID_WORLD when no locale names one, GEOID_NOT_AVAILABLE for another
// class.
GEOID GetUserGeoID(GEOCLASS geoClass);

// Only GEO_ISO2 is known: writes the two upper-case letters of a nation ("001" for the world) and a
// terminating zero and returns the units written (the size needed when `size` is 0). Returns 0 and sets the
// last error for an unknown id (ERROR_INVALID_PARAMETER), another type (ERROR_INVALID_FLAGS) or a buffer that
// is too small (ERROR_INSUFFICIENT_BUFFER).
int GetGeoInfoW(GEOID location, GEOTYPE type, LPWSTR data, int size, LANGID language);

namespace compat
{
// Tests set the locale name read in place of the environment and the system's files; std::nullopt returns to
// them.
void setUserLocaleForTesting(std::optional<std::string> localeName);
// Tests set the files of the system's default locale; std::nullopt returns to the system's.
void setSystemLocaleFilesForTesting(std::optional<std::vector<std::string>> files);

// The territory of a locale name ("en_GB.UTF-8@euro" gives "GB"); empty when it has none.
std::string territoryOfLocale(const std::string& localeName);
} // namespace compat
