#include "compat/FileNameText.h"
#include "qcl/Error.h"
#include "qcl/File.h"
#include "qcl/FileFinder.h"
#include "qcl/Format.h"
#include "qcl/Volume.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::wstring wide(const std::string& path)
{
    return compat::fileNameToUtf16(path);
}

template <class Action>
qcl::SystemError systemErrorOf(Action action)
{
    try
    {
        action();
    }
    catch (const qcl::SystemError& error)
    {
        return error;
    }
    ADD_FAILURE() << "no SystemError";
    return qcl::SystemError(L"", ERROR_SUCCESS);
}

bool startsWith(const std::wstring& text, const std::wstring& start)
{
    return text.compare(0, start.size(), start) == 0;
}

TEST(File, OpenFailuresNameThePathAndKeepTheCode)
{
    test::ScratchFolder scratch;
    const std::wstring missing = wide(scratch / "missing");
    const auto error = systemErrorOf([&] {
        qcl::file::open(missing, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    });
    EXPECT_EQ(error.code(), std::error_code(ERROR_FILE_NOT_FOUND, qcl::windowsCategory()));
    EXPECT_TRUE(startsWith(error.message(), L"Cannot open '" + missing + L"': Windows error 2: "));

    std::error_code code;
    const qcl::Handle none = qcl::file::open(wide(scratch / "no/parent"), GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr, code);
    EXPECT_TRUE(!none);
    EXPECT_EQ(code.value(), static_cast<int>(ERROR_PATH_NOT_FOUND));
}

TEST(File, WriteReadSeekAndSize)
{
    test::ScratchFolder scratch;
    const qcl::Handle file = qcl::file::open(wide(scratch / "data"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    std::vector<char> data(5 * 1024 * 1024 + 3);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 251);
    qcl::File::write(file.get(), data.data(), data.size());
    qcl::File::write(file.get(), nullptr, 0);
    qcl::File::flush(file.get());
    EXPECT_EQ(qcl::File::getSize(file.get()), static_cast<std::int64_t>(data.size()));
    EXPECT_NE(qcl::File::getLastWriteTime(file.get()).dwHighDateTime, 0u);

    EXPECT_EQ(qcl::File::seek(file.get(), 10), 10);
    char buffer[4];
    ASSERT_EQ(qcl::File::read(file.get(), buffer, 4), 4u);
    EXPECT_EQ(buffer[0], 10);
    EXPECT_EQ(qcl::File::seek(file.get(), 0, FILE_END), static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(qcl::File::read(file.get(), buffer, 4), 0u);

    const auto error = systemErrorOf([&] { qcl::File::seek(file.get(), -1, FILE_BEGIN); });
    EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_NEGATIVE_SEEK));
    const std::wstring handleText = qcl::format(L"%1%", file.get());
    EXPECT_EQ(handleText.size(), 8u);
    EXPECT_TRUE(startsWith(error.message(), L"Cannot set file pointer of handle " + handleText + L": "));
}

TEST(File, FileIdOfFilesAndFolders)
{
    test::ScratchFolder scratch;
    scratch.writeFile("f");
    scratch.makeDirectory("d");
    const std::uint64_t fileId = qcl::file::getFileId(wide(scratch / "f"));
    EXPECT_NE(fileId, qcl::file::getFileId(wide(scratch / "d")));
    const qcl::Handle open = qcl::file::open(wide(scratch / "f"), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0);
    EXPECT_EQ(qcl::File::getFileId(open.get()), fileId);

    const std::wstring missing = wide(scratch / "gone");
    const auto error = systemErrorOf([&] { qcl::file::getFileId(missing); });
    EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(startsWith(error.message(), L"Cannot get file ID of '" + missing + L"': Windows error 2"));
}

TEST(File, CreateDirectoriesWithAndWithoutParents)
{
    test::ScratchFolder scratch;
    std::error_code error;
    const std::wstring deep = wide(scratch / "a/b/c");
    EXPECT_FALSE(qcl::file::createDirectories(deep, error, false));
    EXPECT_EQ(error.value(), static_cast<int>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(qcl::file::createDirectories(deep, error, true));
    EXPECT_FALSE(error);
    EXPECT_FALSE(qcl::file::createDirectories(deep, error, true));
    EXPECT_EQ(error, std::error_code(ERROR_ALREADY_EXISTS, qcl::windowsCategory()));

    // Long enough for the long-path prefix, which the layer drops again.
    std::wstring longPath = wide(scratch.path());
    while (longPath.size() < 300)
        longPath += L"/" + std::wstring(60, L'x');
    EXPECT_TRUE(qcl::file::createDirectories(longPath + L"/", error, true)) << error.value();
    EXPECT_NE(qcl::file::getFileId(longPath), 0u);
}

TEST(FileFinder, EmptyMissingAndListedFolders)
{
    test::ScratchFolder scratch;
    scratch.makeDirectory("empty");
    int count = 0;
    for (qcl::FileFinder finder(wide(scratch / "empty/*.doc")); finder; finder.next())
        ++count;
    EXPECT_EQ(count, 0);

    const std::wstring pattern = wide(scratch / "missing/*");
    const auto error = systemErrorOf([&] { qcl::FileFinder finder(pattern); });
    EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(startsWith(error.message(), L"Cannot find '" + pattern + L"'"));

    scratch.writeFile("empty/b");
    scratch.writeFile("empty/A");
    std::vector<std::wstring> names;
    for (qcl::FileFinder finder(wide(scratch / "empty/*")); finder; finder.next())
        names.push_back(finder.data().cFileName);
    EXPECT_EQ(names, (std::vector<std::wstring>{L".", L"..", L"A", L"b"}));
}

TEST(File, DirectoryIsEmptyUnlessAWantedEntryIsThere)
{
    constexpr DWORD excluded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    constexpr DWORD wanted = 0x48B1;
    test::ScratchFolder scratch;
    scratch.makeDirectory("w");
    EXPECT_TRUE(qcl::file::isDirectoryEmpty(wide(scratch / "w"), excluded, wanted));
    const std::string desktopIni = scratch.writeFile("w/Desktop.ini");
    ASSERT_TRUE(SetFileAttributesW(wide(desktopIni).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(qcl::file::isDirectoryEmpty(wide(scratch / "w") + L"/", excluded, wanted));
    scratch.writeFile("w/.dotfile");
    EXPECT_FALSE(qcl::file::isDirectoryEmpty(wide(scratch / "w"), excluded, wanted)) << "dot-names count";
}

TEST(Volume, InformationOfAFolderWithAndWithoutSeparator)
{
    test::ScratchFolder scratch;
    const auto withSeparator = qcl::file::getVolumeInformation(wide(scratch.path()) + L"/");
    const auto without = qcl::file::getVolumeInformation(wide(scratch.path()));
    EXPECT_EQ(withSeparator.volumeSerialNumber, without.volumeSerialNumber);
    EXPECT_EQ(withSeparator.fileSystemName, without.fileSystemName);
    EXPECT_FALSE(without.fileSystemName.empty());
    EXPECT_EQ(qcl::file::getVolumePathName(L"/"), L"/");
    EXPECT_EQ(qcl::file::getDriveType(L"/no/such/place"), DRIVE_NO_ROOT_DIR);

    const auto error = systemErrorOf([] { qcl::file::getVolumeInformation(L"/no/such/place"); });
    EXPECT_TRUE(startsWith(error.message(), L"Cannot retrieve volume information for '/no/such/place'"));
}
} // namespace
