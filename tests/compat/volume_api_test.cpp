#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "compat/PathApi.h"
#include "compat/VolumeApi.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::wstring wide(const std::string& path)
{
    return compat::fileNameToUtf16(path);
}

std::wstring volumePathOf(const std::string& path)
{
    wchar_t buffer[512];
    EXPECT_TRUE(GetVolumePathNameW(wide(path).c_str(), buffer, 512));
    return buffer;
}

TEST(VolumeApi, MountPointOfRootAndOfAMountInside)
{
    test::ScratchFolder scratch;
    EXPECT_EQ(volumePathOf("/"), L"/");
    if (!scratch.mountTmpfs("mnt"))
        GTEST_SKIP() << "cannot mount here";
    scratch.makeDirectory("mnt/sub");
    const std::wstring mountPoint = wide(scratch / "mnt") + L"/";
    EXPECT_EQ(volumePathOf(scratch / "mnt/sub"), mountPoint);
    EXPECT_EQ(volumePathOf(scratch / "mnt/sub/not/yet/there"), mountPoint) << "the path need not exist";
    EXPECT_NE(volumePathOf(scratch / "outside"), mountPoint);
    EXPECT_EQ(GetDriveTypeW(mountPoint.c_str()), DRIVE_RAMDISK);

    wchar_t name[64], type[64];
    DWORD serial = 0, maximum = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformationW(mountPoint.c_str(), name, 64, &serial, &maximum, &flags, type, 64));
    EXPECT_EQ(std::wstring(type), L"tmpfs");
    EXPECT_EQ(std::wstring(name), L"wayfold-test");
    EXPECT_EQ(maximum, 255u);
    EXPECT_TRUE(flags & FILE_UNICODE_ON_DISK);

    wchar_t tiny[4];
    EXPECT_FALSE(GetVolumePathNameW(wide(scratch / "mnt/sub").c_str(), tiny, 4));
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST(VolumeApi, MissingPathsAreTold)
{
    EXPECT_EQ(GetDriveTypeW(L"/no/such/folder/"), DRIVE_NO_ROOT_DIR);
    DWORD serial = 0;
    EXPECT_FALSE(GetVolumeInformationW(L"/no/such/folder/", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

std::wstring canonical(const std::wstring& path)
{
    std::vector<wchar_t> buffer(path.size() + 2);
    EXPECT_TRUE(PathCanonicalizeW(buffer.data(), path.c_str()));
    return buffer.data();
}

TEST(PathApi, CanonicalisationIsTextual)
{
    EXPECT_EQ(canonical(L"/a/./b/../c"), L"/a/c");
    EXPECT_EQ(canonical(L"/a/b/../../../c"), L"/c");
    EXPECT_EQ(canonical(L"../a/../../b"), L"../../b");
    EXPECT_EQ(canonical(L"a/.."), L".");
    EXPECT_EQ(canonical(L"/a//b/"), L"/a/b/");
    EXPECT_EQ(canonical(L"/.."), L"/");
    EXPECT_EQ(canonical(L"\\\\?\\/a/../b"), L"\\\\?\\/b");
    EXPECT_EQ(canonical(L"./\\\\?\\x"), L"./\\\\?\\x") << "not a prefix here, and must not become one";
}
} // namespace
