#include "compat/GeoInfo.h"

#include "../support/ScratchFolder.h"
#include "compat/LastError.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace
{
std::wstring countryCode()
{
    wchar_t code[256] = {};
    return GetGeoInfoW(GetUserGeoID(GEOCLASS_NATION), GEO_ISO2, code, 256, 0) > 0 ? code : L"(failed)";
}

// The locale variables of the environment, set as the test says and put back afterwards.
class Environment
{
public:
    Environment()
    {
        for (const char* variable : {"LC_ALL", "LC_ADDRESS", "LC_TIME", "LC_MESSAGES", "LANG"})
            if (const char* value = std::getenv(variable))
                mSaved.emplace_back(variable, value);
    }
    ~Environment()
    {
        clear();
        for (const auto& [variable, value] : mSaved)
            ::setenv(variable.c_str(), value.c_str(), 1);
        compat::setSystemLocaleFilesForTesting(std::nullopt);
    }
    void clear()
    {
        for (const char* variable : {"LC_ALL", "LC_ADDRESS", "LC_TIME", "LC_MESSAGES", "LANG"})
            ::unsetenv(variable);
    }

private:
    std::vector<std::pair<std::string, std::string>> mSaved;
};

TEST(GeoInfo, TheCountryIsTheFirstTerritoryOfTheLocaleSettingsElseTheWorld)
{
    Environment environment;
    test::ScratchFolder folder;
    const std::string system = folder.path() + "/locale";
    compat::setSystemLocaleFilesForTesting(std::vector<std::string>{system});
    struct Case
    {
        std::vector<std::pair<const char*, const char*>> variables;
        std::string systemFile;
        std::wstring code;
    };
    const std::vector<Case> table = {
        {{{"LANG", "en_US.UTF-8"}, {"LC_TIME", "de_CH.UTF-8"}}, "", L"CH"}, // where, before the language
        {{{"LC_ALL", "C.UTF-8"}, {"LANG", "en_GB.UTF-8"}}, "", L"GB"},      // C names no place
        {{{"LANG", "C.UTF-8"}}, "LANG=\"fr_CA.UTF-8\"\n", L"CA"},           // the system's default
        {{{"LANG", "C.UTF-8"}}, "LANG=C.UTF-8\n", L"001"},                  // nowhere: the world
        {{{"LC_MESSAGES", "es_419.UTF-8"}}, "", L"001"},
    };
    for (const Case& example : table)
    {
        environment.clear();
        for (const auto& [variable, value] : example.variables)
            ::setenv(variable, value, 1);
        std::ofstream(system) << example.systemFile;
        EXPECT_EQ(countryCode(), example.code) << example.systemFile;
    }
}

TEST(GeoInfo, TheWorldsCodeNeedsFourUnits)
{
    wchar_t code[4] = {};
    EXPECT_EQ(GetGeoInfoW(GEOID_WORLD, GEO_ISO2, code, 3, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(GetGeoInfoW(GEOID_WORLD, GEO_ISO2, code, 4, 0), 4);
}
} // namespace
