// The registry stand-in: keys and string values from the user's and the machine's INI files.
#include "compat/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace
{
class Registry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mFolder = std::filesystem::temp_directory_path() /
                  ("registry-test-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(mFolder);
        ::setenv("QUILLMERE_USER_REGISTRY", (mFolder / "user.ini").c_str(), 1);
        ::setenv("QUILLMERE_MACHINE_REGISTRY", (mFolder / "machine.ini").c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(mFolder); }

    void writeUser(const std::string& text) { std::ofstream(mFolder / "user.ini") << text; }

    // The string value, or "<status N>" when the query fails.
    static std::wstring query(HKEY root, const wchar_t* key, const wchar_t* name)
    {
        HKEY handle = nullptr;
        LSTATUS status = RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_32KEY, &handle);
        if (status != ERROR_SUCCESS)
            return L"<open " + std::to_wstring(status) + L">";
        DWORD type = REG_NONE;
        DWORD size = 0;
        status = RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size);
        std::wstring result;
        if (status == ERROR_SUCCESS)
        {
            std::wstring buffer(size / sizeof(wchar_t), L'?');
            if (size > sizeof(wchar_t))
            {
                DWORD small = sizeof(wchar_t);
                EXPECT_EQ(RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &small),
                          LSTATUS(ERROR_MORE_DATA));
                EXPECT_EQ(small, size);
            }
            status = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
            EXPECT_EQ(type, REG_SZ);
            EXPECT_EQ(buffer.back(), L'\0');
            result = buffer.substr(0, buffer.size() - 1);
        }
        EXPECT_EQ(RegCloseKey(handle), LSTATUS(ERROR_SUCCESS));
        return status == ERROR_SUCCESS ? result : L"<query " + std::to_wstring(status) + L">";
    }

    std::filesystem::path mFolder;
};
} // namespace

TEST_F(Registry, ReadsStringValuesOfKeysWithoutRegardToCase)
{
    writeUser("; settings\n"
              "[SOFTWARE\\Quillmere\\Logging\\Wayfold]\r\n"
              "CfgSourceDir = /opt/templates \n"
              "Empty=\n"
              "Text=caf\xC3\xA9=ok\n"
              "[SOFTWARE\\Quillmere\\Logging]\n"
              "CfgSourceDir=/other\n");
    EXPECT_EQ(query(HKEY_CURRENT_USER, L"software\\quillmere\\logging\\WAYFOLD\\", L"cfgsourcedir"), L"/opt/templates");
    EXPECT_EQ(query(HKEY_CURRENT_USER, L"SOFTWARE\\Quillmere\\Logging\\Wayfold", L"Empty"), L"");
    EXPECT_EQ(query(HKEY_CURRENT_USER, L"SOFTWARE\\Quillmere\\Logging\\Wayfold", L"Text"), L"caf\u00E9=ok");
    EXPECT_EQ(query(HKEY_CURRENT_USER, L"SOFTWARE\\Quillmere\\Logging", L"CfgSourceDir"), L"/other");
    EXPECT_EQ(query(HKEY_CURRENT_USER, L"SOFTWARE\\Quillmere\\Logging\\Wayfold", L"Missing"), L"<query 2>");
    EXPECT_EQ(query(HKEY_CURRENT_USER, L"SOFTWARE\\Quillmere\\None", L"x"), L"<open 2>");
}

TEST_F(Registry, EachRootHasItsOwnFileAndAMissingFileHasNoKeys)
{
    writeUser("[SOFTWARE\\Quillmere]\nWho=user\n");
    EXPECT_EQ(query(HKEY_CURRENT_USER, L"SOFTWARE\\Quillmere", L"Who"), L"user");
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillmere", L"Who"), L"<open 2>");
    std::ofstream(mFolder / "machine.ini") << "[SOFTWARE\\Quillmere]\nWho=machine\n";
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillmere", L"Who"), L"machine");
}

TEST_F(Registry, InvalidArgumentsAreRefused)
{
    HKEY handle = nullptr;
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(std::uintptr_t(0x80000003)), L"x", 0, KEY_READ, &handle),
              LSTATUS(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &handle), LSTATUS(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), LSTATUS(ERROR_INVALID_HANDLE));
}

TEST(RegistryFile, MalformedLinesAreSkipped)
{
    auto keys = compat::parseRegistryFile("Orphan=1\n[Unclosed\nA=1\n[Key]\nno equals sign\n=no name\nB=2\n");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys.at(L"KEY").size(), 1u);
    EXPECT_EQ(keys.at(L"KEY").at(L"B"), L"2");
}
