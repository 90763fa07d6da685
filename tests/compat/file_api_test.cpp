#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace
{
std::wstring wide(const std::string& path)
{
    return compat::fileNameToUtf16(path);
}

HANDLE open(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0)
{
    return CreateFileW(wide(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

std::uint64_t fileIndexOf(const std::string& path)
{
    const HANDLE handle = open(path, 0, 7, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information{};
    EXPECT_TRUE(GetFileInformationByHandle(handle, &information));
    CloseHandle(handle);
    return (std::uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
}

TEST(FileApi, MissingFileOrParentAndExistingFileGiveTheWindowsCodes)
{
    test::ScratchFolder scratch;
    EXPECT_EQ(open(scratch / "missing", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(open(scratch / "no/such", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    scratch.writeFile("present");
    EXPECT_EQ(open(scratch / "present", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_FALSE(CreateDirectoryW(wide(scratch / "present").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryW(wide(scratch / "no/such").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(FileApi, OpenAlwaysAndCreateAlwaysReportWhetherTheFileExisted)
{
    test::ScratchFolder scratch;
    HANDLE handle = open(scratch / "f", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle, "abc", 3, &written, nullptr));
    CloseHandle(handle);

    handle = open(scratch / "f", GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    LARGE_INTEGER size{-1};
    ASSERT_TRUE(GetFileSizeEx(handle, &size));
    EXPECT_EQ(size.QuadPart, 0) << "CREATE_ALWAYS truncates";
    CloseHandle(handle);
}

TEST(FileApi, LongPathPrefixIsDroppedBeforeTheSystemCall)
{
    test::ScratchFolder scratch;
    scratch.writeFile("f", "12345");
    const std::wstring prefixed = std::wstring(compat::longPathPrefix) + wide(scratch / "f");
    const HANDLE handle = CreateFileW(prefixed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(handle, &size));
    EXPECT_EQ(size.QuadPart, 5);
    CloseHandle(handle);
}

TEST(FileApi, FoldersOpenOnlyWithBackupSemantics)
{
    test::ScratchFolder scratch;
    scratch.makeDirectory("d");
    EXPECT_EQ(open(scratch / "d", FILE_LIST_DIRECTORY, 3, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const HANDLE handle = open(scratch / "d", FILE_LIST_DIRECTORY, 3, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information{};
    ASSERT_TRUE(GetFileInformationByHandle(handle, &information));
    EXPECT_TRUE(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(FileApi, HandlesAreSmallAndClosedHandlesAreInvalid)
{
    test::ScratchFolder scratch;
    scratch.writeFile("f");
    const HANDLE handle = open(scratch / "f", GENERIC_READ, 7, OPEN_EXISTING);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_NE(handle, nullptr);
    EXPECT_LT(reinterpret_cast<std::uintptr_t>(handle), 0x100000000u);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(FileApi, SharingConflictsFailWithSharingViolation)
{
    test::ScratchFolder scratch;
    const std::string path = scratch / "lock";
    const HANDLE writer = open(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, "ProcessId: 1\r\n", 14, &written, nullptr));

    // A second writer is refused and does not truncate the file.
    EXPECT_EQ(open(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // A reader that lets others write is welcome; one that refuses writers is not.
    const HANDLE reader = open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // Attributes-only opens are never refused.
    EXPECT_NE(fileIndexOf(path), 0u);
    CloseHandle(reader);

    // The same holds for another process.
    const pid_t child = ::fork();
    if (child == 0)
    {
        const HANDLE other = open(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
        ::_exit(other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(writer, &size));
    EXPECT_EQ(size.QuadPart, 14);
    CloseHandle(writer);
    const HANDLE again = open(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "closing ends the refusal";
    CloseHandle(again);
}

TEST(FileApi, FileIndexSurvivesRenameButNotDeleteAndCreate)
{
    test::ScratchFolder scratch;
    const std::string first = scratch.writeFile("a");
    const std::uint64_t index = fileIndexOf(first);
    ASSERT_EQ(::rename(first.c_str(), (scratch / "b").c_str()), 0);
    EXPECT_EQ(fileIndexOf(scratch / "b"), index);

    // A deleted file's inode is usually handed out again at once, within the same clock tick, so its
    // birth time is the same too; the index must still differ.
    std::set<std::uint64_t> seen{index};
    std::string current = scratch / "b";
    int reused = 0;
    struct stat before;
    ASSERT_EQ(::stat(current.c_str(), &before), 0);
    for (int i = 0; i < 200; ++i)
    {
        ASSERT_EQ(::unlink(current.c_str()), 0);
        current = scratch.writeFile("c" + std::to_string(i));
        struct stat after;
        ASSERT_EQ(::stat(current.c_str(), &after), 0);
        reused += after.st_ino == before.st_ino ? 1 : 0;
        before = after;
        EXPECT_TRUE(seen.insert(fileIndexOf(current)).second) << "index repeated after " << i << " files";
    }
    if (reused == 0)
        GTEST_SKIP() << "this file system does not reuse inode numbers at once";
}

TEST(FileApi, LargeReadsWritesAndSeeks)
{
    test::ScratchFolder scratch;
    const HANDLE handle = open(scratch / "big", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::vector<unsigned char> data(24 * 1024 * 1024 + 7);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 31 + (i >> 13));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle, data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    EXPECT_EQ(written, data.size());
    ASSERT_TRUE(FlushFileBuffers(handle));

    LARGE_INTEGER position{};
    ASSERT_TRUE(SetFilePointerEx(handle, LARGE_INTEGER{0}, &position, FILE_BEGIN));
    std::vector<unsigned char> back(data.size());
    std::size_t total = 0;
    DWORD read = 0;
    do
    {
        ASSERT_TRUE(ReadFile(handle, back.data() + total, static_cast<DWORD>(back.size() - total), &read, nullptr));
        total += read;
    } while (read != 0 && total < back.size());
    EXPECT_EQ(total, data.size());
    EXPECT_TRUE(back == data);
    ASSERT_TRUE(ReadFile(handle, back.data(), 10, &read, nullptr));
    EXPECT_EQ(read, 0u) << "end of file";

    EXPECT_TRUE(SetFilePointerEx(handle, LARGE_INTEGER{-7}, &position, FILE_END));
    EXPECT_EQ(position.QuadPart, static_cast<LONGLONG>(data.size() - 7));
    EXPECT_FALSE(SetFilePointerEx(handle, LARGE_INTEGER{-1}, &position, FILE_BEGIN));
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    CloseHandle(handle);
}

TEST(FileApi, AccessIsCheckedPerHandle)
{
    test::ScratchFolder scratch;
    scratch.writeFile("f", "abc");
    const HANDLE reader = open(scratch / "f", GENERIC_READ, 7, OPEN_EXISTING);
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(FlushFileBuffers(reader));
    CloseHandle(reader);

    // A named pipe without a writer opens at once.
    ASSERT_EQ(::mkfifo((scratch / "pipe").c_str(), 0600), 0);
    const HANDLE pipe = open(scratch / "pipe", GENERIC_READ, 7, OPEN_EXISTING);
    EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    CloseHandle(pipe);
    EXPECT_EQ(GetFileAttributesW(compat::fileNameToUtf16(scratch / "pipe").c_str()), FILE_ATTRIBUTE_SYSTEM)
        << "pipes, sockets and devices are nothing to synchronise";

    const HANDLE attributesOnly = open(scratch / "f", 0, 7, OPEN_EXISTING);
    char buffer[4];
    EXPECT_FALSE(ReadFile(attributesOnly, buffer, 4, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    FILETIME lastWrite{};
    EXPECT_TRUE(GetFileTime(attributesOnly, nullptr, nullptr, &lastWrite));
    EXPECT_NE(lastWrite.dwHighDateTime, 0u);
    CloseHandle(attributesOnly);
}

TEST(FileApi, AttributesComeFromTheItemAndTheStoredBits)
{
    test::ScratchFolder scratch;
    const std::string file = scratch.writeFile(".profile");
    scratch.makeDirectory("d");
    ASSERT_EQ(::symlink("d", (scratch / "link").c_str()), 0);
    EXPECT_EQ(GetFileAttributesW(wide(file).c_str()), FILE_ATTRIBUTE_ARCHIVE) << "dot-names are not hidden";
    EXPECT_EQ(GetFileAttributesW(wide(scratch / "d").c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(wide(scratch / "link").c_str()),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(GetFileAttributesW(wide(scratch / "none/x").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    for (const bool disabled : {false, true})
    {
        SCOPED_TRACE(disabled ? "process table" : "extended attribute");
        compat::setExtendedAttributesDisabledForTesting(disabled);
        const std::string path = scratch.writeFile(disabled ? "t" : "x");
        const DWORD wanted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
        ASSERT_TRUE(SetFileAttributesW(wide(path).c_str(), wanted));
        EXPECT_EQ(GetFileAttributesW(wide(path).c_str()), wanted | FILE_ATTRIBUTE_ARCHIVE);
        // Kept across a rename, and changeable while the file is read-only.
        ASSERT_EQ(::rename(path.c_str(), (path + "2").c_str()), 0);
        ASSERT_TRUE(SetFileAttributesW(wide(path + "2").c_str(), FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(GetFileAttributesW(wide(path + "2").c_str()),
                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        ASSERT_TRUE(SetFileAttributesW(wide(path + "2").c_str(), FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(GetFileAttributesW(wide(path + "2").c_str()), FILE_ATTRIBUTE_ARCHIVE);
    }
    compat::setExtendedAttributesDisabledForTesting(false);
}

TEST(FileApi, ProcessTableDoesNotPassAttributesToAReusedInode)
{
    test::ScratchFolder scratch;
    compat::setExtendedAttributesDisabledForTesting(true);
    for (int i = 0; i < 50; ++i)
    {
        const std::string path = scratch.writeFile("f" + std::to_string(i));
        EXPECT_EQ(GetFileAttributesW(wide(path).c_str()), FILE_ATTRIBUTE_ARCHIVE) << "file " << i;
        ASSERT_TRUE(SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
        ASSERT_EQ(::unlink(path.c_str()), 0);
    }
    compat::setExtendedAttributesDisabledForTesting(false);
}

TEST(FileApi, CreatedFilesStoreTheirHiddenAttribute)
{
    test::ScratchFolder scratch;
    const HANDLE handle =
        open(scratch / "download", GENERIC_WRITE, 7, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information{};
    ASSERT_TRUE(GetFileInformationByHandle(handle, &information));
    EXPECT_EQ(information.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    CloseHandle(handle);
    CloseHandle(open(scratch / "kept", GENERIC_WRITE, 7, CREATE_NEW, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(wide(scratch / "kept").c_str()),
              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    // Replacing a hidden file must name the attribute; then the given attributes replace the old.
    EXPECT_EQ(open(scratch / "download", GENERIC_WRITE, 7, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(open(scratch / "download", GENERIC_WRITE, 7, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY));
    EXPECT_EQ(GetFileAttributesW(wide(scratch / "download").c_str()),
              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_ARCHIVE);
}
} // namespace

namespace
{
// Root may change anything; the owner of a read-only file may not change its extended attributes
// directly. Runs as an ordinary user in a child process when the test runs as root.
TEST(FileApi, ReadOnlyFilesTakeStoredAttributesForTheirOwner)
{
    test::ScratchFolder scratch;
    ASSERT_EQ(::chmod(scratch.path().c_str(), 0777), 0);
    const auto body = [&] {
        const std::string path = scratch / "readonly";
        const HANDLE created =
            open(path, GENERIC_WRITE, 7, CREATE_NEW, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        if (created == INVALID_HANDLE_VALUE)
            return 1;
        CloseHandle(created);
        if (GetFileAttributesW(wide(path).c_str()) !=
            (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE))
            return 2;
        if (!SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM))
            return 3;
        return GetFileAttributesW(wide(path).c_str()) ==
                       (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)
                   ? 0
                   : 4;
    };
    if (::geteuid() != 0)
    {
        EXPECT_EQ(body(), 0);
        return;
    }
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? body() : 10);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
TEST(FileApi, ChangeTimeMovesWithAWriteWhoseModificationTimeIsSetBack)
{
    test::ScratchFolder scratch;
    const std::string path = scratch.writeFile("a.txt", "one");
    const HANDLE handle = open(path, GENERIC_READ, 7, OPEN_EXISTING);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    FILE_BASIC_INFO before{};
    ASSERT_TRUE(GetFileInformationByHandleEx(handle, FileBasicInfo, &before, sizeof before));
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);

    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // past the file system's clock tick
    scratch.writeFile("a.txt", "two");
    const timespec times[2] = {status.st_atim, status.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    FILE_BASIC_INFO after{};
    ASSERT_TRUE(GetFileInformationByHandleEx(handle, FileBasicInfo, &after, sizeof after));
    EXPECT_EQ(after.LastWriteTime.QuadPart, before.LastWriteTime.QuadPart);
    EXPECT_NE(after.ChangeTime.QuadPart, before.ChangeTime.QuadPart);
    EXPECT_FALSE(GetFileInformationByHandleEx(handle, FileBasicInfo, &after, sizeof after - 1));
    CloseHandle(handle);
}
} // namespace
