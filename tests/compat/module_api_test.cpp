#include "compat/LastError.h"
#include "compat/ModuleApi.h"
#include "compat/VersionApi.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace
{
TEST(ModuleApi, MissingStringFailsWith1814)
{
    wchar_t buffer[16];
    EXPECT_EQ(LoadStringW(nullptr, 4242, buffer, 16), 0);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST(ModuleApi, StringsBelongToTheModuleThatRegisteredThem)
{
    const HMODULE self = compat::moduleOfAddress(reinterpret_cast<const void*>(&LoadStringW));
    ASSERT_EQ(self, GetModuleHandleW(nullptr)) << "the test program is the program module";
    compat::registerStrings(self, {{202, L"Quillmere Wayfold"}, {203, L"\xE9t\xE9"}});
    wchar_t buffer[8];
    EXPECT_EQ(LoadStringW(nullptr, 202, buffer, 8), 7) << "cut to the buffer";
    EXPECT_EQ(std::wstring(buffer), L"Quillme");
    EXPECT_EQ(LoadStringW(self, 203, buffer, 8), 3);
    EXPECT_EQ(std::wstring(buffer), L"\xE9t\xE9");
    const wchar_t* text = nullptr;
    EXPECT_EQ(LoadStringW(self, 202, reinterpret_cast<wchar_t*>(&text), 0), 17);
    EXPECT_EQ(std::wstring(text, 17), L"Quillmere Wayfold");

    int otherModule = 0;
    EXPECT_EQ(LoadStringW(reinterpret_cast<HMODULE>(&otherModule), 202, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST(ModuleApi, ModuleFileNameIsTheProgramAndIsCutWhenTooLong)
{
    char expected[4096];
    const ssize_t length = ::readlink("/proc/self/exe", expected, sizeof expected);
    ASSERT_GT(length, 0);
    wchar_t buffer[4096];
    ASSERT_EQ(GetModuleFileNameW(nullptr, buffer, 4096), static_cast<DWORD>(length));
    EXPECT_EQ(buffer[0], L'/');
    wchar_t small[4];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small[3], 0);
}

TEST(ModuleApi, LibrariesLoadAndResolve)
{
    EXPECT_EQ(LoadLibraryW(L"libdoes-not-exist.so"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    const HMODULE library = LoadLibraryW(L"libm.so.6");
    ASSERT_NE(library, nullptr);
    EXPECT_NE(GetProcAddress(library, "cos"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "no_such_function"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(library));
}

TEST(VersionApi, AnswersSixOneUnlessInjected)
{
    OSVERSIONINFOW information{};
    information.dwOSVersionInfoSize = sizeof information;
    ASSERT_TRUE(GetVersionExW(&information));
    EXPECT_EQ(information.dwMajorVersion, 6u);
    EXPECT_EQ(information.dwMinorVersion, 1u);

    compat::setReportedVersionForTesting({5, 1, 2600, false});
    ASSERT_TRUE(GetVersionExW(&information));
    EXPECT_EQ(information.dwMajorVersion, 5u);
    compat::setReportedVersionForTesting({6, 1, 7601, true});
    EXPECT_FALSE(GetVersionExW(&information));
    compat::setReportedVersionForTesting({});

    information.dwOSVersionInfoSize = 12;
    EXPECT_FALSE(GetVersionExW(&information));
}
} // namespace
