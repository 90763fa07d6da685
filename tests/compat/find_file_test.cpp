#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/FolderReader.h"
#include "compat/LastError.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
std::wstring wide(const std::string& path)
{
    return compat::fileNameToUtf16(path);
}

// The names found for a pattern, or the error code of FindFirstFileW.
std::vector<std::wstring> find(const std::string& pattern, DWORD* error = nullptr)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE handle = FindFirstFileW(wide(pattern).c_str(), &data);
    if (handle == INVALID_HANDLE_VALUE)
    {
        if (error != nullptr)
            *error = GetLastError();
        return names;
    }
    do
        names.push_back(data.cFileName);
    while (FindNextFileW(handle, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(handle));
    return names;
}

TEST(FindFile, ListsDotEntriesFirstThenByUpperCasedUnits)
{
    test::ScratchFolder scratch;
    for (const char* name : {"b", "B2", "a", "_x", "\xC3\xA9t\xC3\xA9", "Z", ".hidden-not"})
        scratch.writeFile(name);
    scratch.makeDirectory("C");
    const std::vector<std::wstring> expected = {L".",  L"..", L".hidden-not", L"a",  L"b",
                                                L"B2", L"C",  L"Z",           L"_x", L"\xE9t\xE9"};
    EXPECT_EQ(find(scratch / "*"), expected);
}

TEST(FindFile, EmptyAndMissingAreTold)
{
    test::ScratchFolder scratch;
    scratch.makeDirectory("empty");
    EXPECT_EQ(find(scratch / "empty/*"), (std::vector<std::wstring>{L".", L".."}));
    DWORD error = 0;
    EXPECT_TRUE(find(scratch / "empty/*.txt", &error).empty());
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(find(scratch / "missing/*", &error).empty());
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(find(scratch / "empty/plain", &error).empty());
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
}

TEST(FindFile, PatternsMatchWithoutRegardToCase)
{
    test::ScratchFolder scratch;
    for (const char* name : {"Report.TXT", "notes.txt", "image.png", "t.txt.bak"})
        scratch.writeFile(name);
    EXPECT_EQ(find(scratch / "*.txt"), (std::vector<std::wstring>{L"notes.txt", L"Report.TXT"}));
    EXPECT_EQ(find(scratch / "?mage.*"), (std::vector<std::wstring>{L"image.png"}));
    EXPECT_EQ(find(scratch / "image.png"), (std::vector<std::wstring>{L"image.png"}));
}

TEST(FindFile, EntriesCarrySizeAttributesAndTags)
{
    test::ScratchFolder scratch;
    scratch.writeFile("data", std::string(5000, 'x'));
    ASSERT_EQ(::symlink("data", (scratch / "link").c_str()), 0);
    ASSERT_TRUE(SetFileAttributesW(wide(scratch / "data").c_str(), FILE_ATTRIBUTE_HIDDEN));

    WIN32_FIND_DATAW data;
    HANDLE handle = FindFirstFileW(wide(scratch / "data").c_str(), &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeLow, 5000u);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
    FindClose(handle);

    handle = FindFirstFileW(wide(scratch / "link").c_str(), &data);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(data.dwReserved0, IO_REPARSE_TAG_SYMLINK);
    FindClose(handle);
}

TEST(FindFile, NamesThatAreNotUtf8SurviveTheRoundTrip)
{
    test::ScratchFolder scratch;
    scratch.writeFile("bad\xFF\xC3name");
    const auto names = find(scratch / "bad*");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], L"bad\xDCFF\xDCC3name");
    const std::wstring full = wide(scratch.path()) + L"/" + names[0];
    EXPECT_EQ(GetFileAttributesW(full.c_str()), FILE_ATTRIBUTE_ARCHIVE);
}

// What GetFileInformationByHandleEx tells of one entry.
struct IdEntry
{
    std::wstring name;
    DWORD attributes;
    DWORD reparseTag;
    ULONGLONG size;
    ULONGLONG lastWrite;
    ULONGLONG fileId;
    bool operator==(const IdEntry&) const = default;
};

HANDLE openFolder(const std::string& path)
{
    return CreateFileW(wide(path).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Adds the linked records of one filled buffer.
void appendRecords(const void* buffer, std::vector<IdEntry>& entries)
{
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    for (DWORD offset = 0;;)
    {
        const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
        entries.push_back({std::wstring(record->FileName, record->FileNameLength / sizeof(wchar_t)),
                           record->FileAttributes, record->EaSize,
                           static_cast<ULONGLONG>(record->EndOfFile.QuadPart),
                           static_cast<ULONGLONG>(record->LastWriteTime.QuadPart),
                           static_cast<ULONGLONG>(record->FileId.QuadPart)});
        if (record->NextEntryOffset == 0)
            return;
        offset += record->NextEntryOffset;
    }
}

// Every entry of the folder, read `bufferSize` bytes at a time.
std::vector<IdEntry> listWithIds(HANDLE folder, DWORD bufferSize,
                                 FILE_INFO_BY_HANDLE_CLASS first = FileIdBothDirectoryInfo)
{
    std::vector<IdEntry> entries;
    std::vector<std::uint64_t> buffer(bufferSize / 8 + 1);
    for (FILE_INFO_BY_HANDLE_CLASS kind = first;
         GetFileInformationByHandleEx(folder, kind, buffer.data(), bufferSize);
         kind = FileIdBothDirectoryInfo)
        appendRecords(buffer.data(), entries);
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    return entries;
}

// The file index as an attributes-only handle reports it, the way file ids are read one by one by path.
ULONGLONG fileIdByPath(const std::string& path)
{
    const HANDLE file =
        CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    BY_HANDLE_FILE_INFORMATION information{};
    EXPECT_TRUE(GetFileInformationByHandle(file, &information));
    CloseHandle(file);
    return (ULONGLONG(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
}

// A folder with one item of every kind the listing tells apart.
void fillVariedFolder(const test::ScratchFolder& scratch)
{
    scratch.writeFile("plain", std::string(70000, 'p'));
    scratch.writeFile("hidden");
    scratch.writeFile("system");
    scratch.writeFile("temporary");
    scratch.writeFile("read-only");
    scratch.makeDirectory("folder");
    scratch.makeDirectory("hidden folder");
    ASSERT_EQ(::symlink("plain", (scratch / "file link").c_str()), 0);
    ASSERT_EQ(::symlink("folder", (scratch / "folder link").c_str()), 0);
    ASSERT_EQ(::mkfifo((scratch / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((scratch / "read-only").c_str(), 0444), 0);
    for (const auto& [name, bits] : {std::pair{"hidden", FILE_ATTRIBUTE_HIDDEN},
                                     {"system", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN},
                                     {"temporary", FILE_ATTRIBUTE_TEMPORARY},
                                     {"hidden folder", FILE_ATTRIBUTE_HIDDEN}})
        ASSERT_TRUE(SetFileAttributesW(wide(scratch / name).c_str(), bits));
    // An item whose stored bits are in the process-wide table because links take no extended attribute.
    ASSERT_TRUE(SetFileAttributesW(wide(scratch / "file link").c_str(), FILE_ATTRIBUTE_HIDDEN));
}

// The enumeration with ids must agree with FindFirstFileW on order, attributes, tags, sizes and times, and
// with the file index read by path on every id: the scan relies on both.
void expectListingsAgree(const test::ScratchFolder& scratch, DWORD bufferSize)
{
    const HANDLE folder = openFolder(scratch.path());
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    const std::vector<IdEntry> withIds = listWithIds(folder, bufferSize);
    CloseHandle(folder);

    std::vector<WIN32_FIND_DATAW> found;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(wide(scratch / "*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do
        found.push_back(data);
    while (FindNextFileW(find, &data));
    FindClose(find);

    ASSERT_EQ(withIds.size(), found.size());
    for (std::size_t i = 0; i < found.size(); ++i)
    {
        const IdEntry& entry = withIds[i];
        SCOPED_TRACE(testing::Message() << "entry " << i);
        EXPECT_EQ(entry.name, found[i].cFileName);
        EXPECT_EQ(entry.attributes, found[i].dwFileAttributes);
        EXPECT_EQ(entry.reparseTag, found[i].dwReserved0);
        EXPECT_EQ(entry.size, (ULONGLONG(found[i].nFileSizeHigh) << 32) | found[i].nFileSizeLow);
        // ".." is the shared temporary folder, which other tests running at the same time change.
        if (entry.name != L"..")
        {
            EXPECT_EQ(entry.lastWrite, (ULONGLONG(found[i].ftLastWriteTime.dwHighDateTime) << 32) |
                                           found[i].ftLastWriteTime.dwLowDateTime);
        }
        std::string native;
        compat::utf16ToFileName(entry.name.data(), entry.name.data() + entry.name.size(), native);
        if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) // by path, a link would be followed
        {
            EXPECT_EQ(entry.fileId, fileIdByPath(scratch / native));
        }
    }
    EXPECT_EQ(withIds[0].name, L".");
    EXPECT_EQ(withIds[0].fileId, fileIdByPath(scratch.path()));
}

TEST(FolderEnumerationWithIds, AgreesWithFindFileAndTheFileIndexByPath)
{
    test::ScratchFolder scratch;
    fillVariedFolder(scratch);
    expectListingsAgree(scratch, 64 * 1024);
    expectListingsAgree(scratch, 200); // one or two entries per call
}

TEST(FolderEnumerationWithIds, AgreesWhereAttributesCannotBeStoredWithTheFile)
{
    test::ScratchFolder scratch;
    compat::setExtendedAttributesDisabledForTesting(true);
    fillVariedFolder(scratch);
    expectListingsAgree(scratch, 4096);
    compat::setExtendedAttributesDisabledForTesting(false);
}

TEST(FolderEnumerationWithIds, RestartsEndsAndRefusesWhatItCannotDo)
{
    test::ScratchFolder scratch;
    scratch.writeFile("a");
    scratch.writeFile("b");
    const HANDLE folder = openFolder(scratch.path());
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    std::vector<std::uint64_t> buffer(16);
    EXPECT_FALSE(GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer.data(), 8));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(listWithIds(folder, 4096).size(), 4u);
    EXPECT_EQ(listWithIds(folder, 4096).size(), 0u); // at the end until restarted
    scratch.writeFile("c");
    EXPECT_EQ(listWithIds(folder, 4096, FileIdBothDirectoryRestartInfo).size(), 5u);
    CloseHandle(folder);

    const HANDLE file = CreateFileW(wide(scratch / "a").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(GetFileInformationByHandleEx(file, FileIdBothDirectoryInfo, buffer.data(), 128));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(file);
}

// The scan's reader gives the records of the handle's enumeration without "." and "..", and opens a subfolder
// only when the entry is a folder itself, not a link to one.
TEST(FolderReader, ListsAsTheHandleDoesWithoutDotEntriesAndEntersNoLink)
{
    test::ScratchFolder scratch;
    fillVariedFolder(scratch);
    scratch.writeFile("folder/inner", "12345");
    const HANDLE folder = openFolder(scratch.path());
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    std::vector<IdEntry> expected = listWithIds(folder, 4096);
    CloseHandle(folder);
    ASSERT_EQ(expected[1].name, L"..");
    expected.erase(expected.begin(), expected.begin() + 2);

    const auto readAll = [](compat::FolderReader& reader)
    {
        std::vector<IdEntry> entries;
        std::vector<std::uint64_t> buffer(32);
        DWORD code;
        while ((code = reader.read(buffer.data(), buffer.size() * 8)) == ERROR_SUCCESS)
            appendRecords(buffer.data(), entries);
        EXPECT_EQ(code, ERROR_NO_MORE_FILES);
        return entries;
    };
    compat::FolderReader reader;
    ASSERT_EQ(reader.open(wide(scratch.path())), ERROR_SUCCESS);
    for (const wchar_t* name : {L"folder link", L"plain", L"missing"})
    {
        compat::FolderReader child;
        EXPECT_EQ(child.openChild(reader, name), ERROR_PATH_NOT_FOUND) << name;
    }
    compat::FolderReader child;
    ASSERT_EQ(child.openChild(reader, L"folder"), ERROR_SUCCESS);
    const std::vector<IdEntry> inner = readAll(child);
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0].size, 5u);
    EXPECT_EQ(readAll(reader), expected);
}
} // namespace
