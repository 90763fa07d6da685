// Environment variables, known folders and the module folder of the stand-in layer.
#include "compat/Environment.h"
#include "compat/KnownFolders.h"
#include "compat/LastError.h"
#include "compat/ModuleFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

TEST(Environment, SetGetAndRemoveInUtf16)
{
    ASSERT_TRUE(SetEnvironmentVariableW(L"COMPAT_TEST_VAR", L"Gr\u00FC\u00DF \xD83D\xDE00"));
    EXPECT_STREQ(std::getenv("COMPAT_TEST_VAR"), "Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80");
    wchar_t small[3];
    EXPECT_EQ(GetEnvironmentVariableW(L"COMPAT_TEST_VAR", small, 3), 8u); // needed, with the zero
    wchar_t buffer[16];
    EXPECT_EQ(GetEnvironmentVariableW(L"COMPAT_TEST_VAR", buffer, 16), 7u);
    EXPECT_EQ(std::wstring(buffer), L"Gr\u00FC\u00DF \xD83D\xDE00");

    ASSERT_TRUE(SetEnvironmentVariableW(L"COMPAT_TEST_VAR", nullptr));
    EXPECT_EQ(GetEnvironmentVariableW(L"COMPAT_TEST_VAR", buffer, 16), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
    EXPECT_FALSE(SetEnvironmentVariableW(L"A=B", L"x"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Environment, ExpandsSetVariablesAndKeepsEverythingElse)
{
    ::setenv("COMPAT_EXPAND", "/data", 1);
    ::unsetenv("COMPAT_UNSET");
    const wchar_t* source = L"%COMPAT_EXPAND%/x/%COMPAT_UNSET%/100%/%COMPAT_EXPAND%";
    DWORD size = ExpandEnvironmentStringsW(source, nullptr, 0);
    std::wstring result(size, L'?');
    EXPECT_EQ(ExpandEnvironmentStringsW(source, result.data(), size), size);
    result.resize(size - 1);
    EXPECT_EQ(result, L"/data/x/%COMPAT_UNSET%/100%//data");
}

TEST(KnownFolders, FollowTheXdgFoldersAndTheTestOverride)
{
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_DATA_HOME", "/xdg/data", 1);
    EXPECT_EQ(compat::knownFolderPath(FOLDERID_LocalAppDataLow), L"/xdg/data");
    EXPECT_EQ(compat::knownFolderPath(FOLDERID_LocalAppData), L"/xdg/data");
    EXPECT_EQ(compat::knownFolderPath(FOLDERID_Profile), L"/home/someone");
    EXPECT_EQ(compat::knownFolderPath(FOLDERID_Documents), L"/home/someone/Documents");
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(compat::knownFolderPath(FOLDERID_LocalAppData), L"/home/someone/.local/share");
    EXPECT_EQ(compat::knownFolderPath(FOLDERID_Links), L"/home/someone/.local/share/Links");

    const auto folder = std::filesystem::temp_directory_path() / ("known-" + std::to_string(::getpid())) / "made";
    compat::setKnownFolderForTesting(FOLDERID_Links, std::wstring(folder.wstring()));
    EXPECT_EQ(compat::knownFolderPath(FOLDERID_Links, KF_FLAG_CREATE), folder.wstring());
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    std::filesystem::remove_all(folder.parent_path());
    compat::setKnownFolderForTesting(FOLDERID_Links, std::nullopt);
    EXPECT_EQ(compat::knownFolderPath(FOLDERID_Links), L"/home/someone/.local/share/Links");

    wchar_t* path = reinterpret_cast<wchar_t*>(1);
    EXPECT_EQ(SHGetKnownFolderPath(KNOWNFOLDERID{}, 0, nullptr, &path), E_INVALIDARG);
    EXPECT_EQ(path, nullptr);
}

TEST(ModuleFolder, IsTheFolderOfTheProgram)
{
    auto program = std::filesystem::canonical("/proc/self/exe");
    EXPECT_EQ(compat::moduleFolderOf(reinterpret_cast<const void*>(&compat::moduleFolderOf)),
              program.parent_path().wstring());
}
