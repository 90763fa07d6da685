#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "qcl/Error.h"
#include "qcl/File.h"
#include "qcl/Handle.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

namespace
{
HANDLE openRaw(const std::string& path)
{
    return CreateFileW(compat::fileNameToUtf16(path).c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(Handle, EmptyValuesCloseNothingAndStayEmpty)
{
    for (HANDLE empty : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE})
    {
        qcl::Handle handle(empty);
        EXPECT_TRUE(!handle);
        handle.close();
        EXPECT_EQ(handle.get(), INVALID_HANDLE_VALUE);
        EXPECT_NO_THROW(handle.closeOrThrow());
        qcl::ZeroHandle zero(empty);
        EXPECT_TRUE(!zero);
        zero.reset();
        EXPECT_EQ(zero.get(), nullptr);
    }
}

TEST(Handle, OwnsAndClosesOnceAcrossMoves)
{
    test::ScratchFolder scratch;
    scratch.writeFile("f");
    const HANDLE raw = openRaw(scratch / "f");
    {
        qcl::Handle first(raw);
        qcl::Handle second(std::move(first));
        EXPECT_TRUE(!first);
        EXPECT_EQ(second.get(), raw);
        qcl::Handle third;
        third = std::move(second);
        EXPECT_EQ(third.get(), raw);
    }
    EXPECT_FALSE(CloseHandle(raw)) << "closed exactly once by its last owner";

    qcl::ZeroHandle zero(openRaw(scratch / "f"));
    const HANDLE previous = zero.get();
    zero.reset(openRaw(scratch / "f"));
    EXPECT_FALSE(CloseHandle(previous)) << "reset closes the previous handle";
}

TEST(Handle, CloseOrThrowNamesTheHandle)
{
    qcl::Handle handle(reinterpret_cast<HANDLE>(0x1234ABC0));
    try
    {
        handle.closeOrThrow();
        FAIL() << "no exception";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(error.message().rfind(L"Cannot close file handle 1234ABC0: ", 0), 0u) << error.what();
    }
    EXPECT_TRUE(!handle);
}
} // namespace
