#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

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
    const std::vector<std::wstring> expected = {L".",  L"..", L".hidden-not", L"a",          L"b", L"B2",
                                                L"C",  L"Z",  L"_x",          L"\xE9t\xE9"};
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
} // namespace
