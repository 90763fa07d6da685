#include "compat/VersionApi.h"
#include "qcl/Error.h"
#include "qcl/Module.h"
#include "qcl/Os.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
TEST(LoadString, LongStringsComeBackWhole)
{
    const std::wstring longText(1000, L'w');
    compat::registerStrings(GetModuleHandleW(nullptr), {{900, longText.c_str()}, {901, L"short"}});
    EXPECT_EQ(qcl::loadString(900), longText);
    EXPECT_EQ(qcl::loadString(901), L"short");
}

TEST(LoadString, MissingIdThrowsWithTheModule)
{
    try
    {
        qcl::loadString(reinterpret_cast<HINSTANCE>(0x10), 77);
        FAIL() << "no exception";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.code().value(), 1814);
        EXPECT_EQ(error.message().rfind(L"Cannot load string with ID 77 from module 0x00000010: ", 0), 0u)
            << error.what();
    }
    try
    {
        qcl::loadString(reinterpret_cast<HINSTANCE>(0x7F12345678AB), 78);
        FAIL() << "no exception";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.message().rfind(L"Cannot load string with ID 78 from module 0x7F12345678AB: ", 0), 0u)
            << error.what() << " (a module handle is an address, written whole)";
    }
}

TEST(ModuleFileName, IsAnAbsolutePath)
{
    const std::wstring path = qcl::getModuleFileName();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), L'/');
    EXPECT_NE(path.find(L"qcl_module"), std::wstring::npos);
}

TEST(HModuleHolder, LoadsOnceAndResolvesProcedures)
{
    HModule module;
    EXPECT_THROW(module.Load(nullptr), std::runtime_error);
    EXPECT_FALSE(module.Load(L"libno-such-library.so"));
    EXPECT_EQ(module.lastError(), ERROR_MOD_NOT_FOUND);
    ASSERT_TRUE(module.Load(L"libm.so.6"));
    const HMODULE held = module.get();
    ASSERT_TRUE(module.Load(L"LIBM.so.6"));
    EXPECT_EQ(module.get(), held) << "the same name without regard to case keeps the module";
    HModule::Procedure<double (*)(double)> cosine(module, "cos");
    EXPECT_DOUBLE_EQ(cosine.get()(0.0), 1.0);
    HModule::Procedure<void (*)()> missing(module, "no_such_function");
    EXPECT_THROW(missing.get(), std::runtime_error);
}

TEST(OsVersion, ClassesOfTheReportedVersion)
{
    EXPECT_EQ(qcl::os::getVersion(), 3);
    const struct
    {
        compat::ReportedVersion version;
        int expected;
    } cases[] = {{{5, 1, 2600, false}, 1}, {{6, 0, 6000, false}, 2}, {{10, 0, 19041, false}, 0},
                 {{6, 1, 7601, true}, 0}};
    for (const auto& c : cases)
    {
        compat::setReportedVersionForTesting(c.version);
        EXPECT_EQ(qcl::os::getVersion(), c.expected) << c.version.major << "." << c.version.minor;
    }
    compat::setReportedVersionForTesting({});
}
} // namespace
