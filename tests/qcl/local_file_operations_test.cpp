#include "compat/FileNameText.h"
#include "qcl/Error.h"
#include "qcl/File.h"
#include "qcl/LocalFileOperations.h"
#include "qcl/String.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace
{
std::string contentOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

class LocalFileOperationsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const char* previous = std::getenv("XDG_DATA_HOME");
        mHadDataHome = previous != nullptr;
        if (mHadDataHome)
            mPreviousDataHome = previous;
        ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        folder.makeDirectory("work");
        work = wide(folder / "work");
    }
    void TearDown() override
    {
        if (mHadDataHome)
            ::setenv("XDG_DATA_HOME", mPreviousDataHome.c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }

    static std::wstring wide(const std::string& path) { return compat::fileNameToUtf16(path); }

    test::ScratchFolder folder;
    std::wstring work;

private:
    std::string mPreviousDataHome;
    bool mHadDataHome = false;
};

TEST_F(LocalFileOperationsTest, CreateDirectoryTakesTheNextFreeName)
{
    EXPECT_EQ(dwl::createDirectory(work, L"Reports"), L"Reports");
    EXPECT_EQ(dwl::createDirectory(work + L"/", L"Reports"), L"Reports (2)");
    folder.writeFile("work/Reports (3)");
    EXPECT_EQ(dwl::createDirectory(work, L"Reports"), L"Reports (4)");
    // Server names are sanitised first.
    EXPECT_EQ(dwl::createDirectory(work, L"a/b\tc?. "), L"abc?. ");

    struct stat status;
    ASSERT_EQ(::stat((folder / "work/Reports (4)").c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
}

TEST_F(LocalFileOperationsTest, CreateUniqueFileKeepsTheNewFileOpen)
{
    folder.writeFile("work/a.txt", "first");
    folder.writeFile("work/a (2).txt", "second");
    qcl::Handle file;
    EXPECT_EQ(dwl::createUniqueFile(file, work, L"a.txt", GENERIC_WRITE, 7, FILE_ATTRIBUTE_HIDDEN), L"a (3).txt");
    ASSERT_TRUE(file);
    qcl::File::write(file.get(), "third", 5);
    file.close();

    EXPECT_EQ(contentOf(folder / "work/a.txt"), "first");
    EXPECT_EQ(contentOf(folder / "work/a (3).txt"), "third");
    EXPECT_TRUE(GetFileAttributesW((work + L"/a (3).txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(LocalFileOperationsTest, MovesNeverReplaceAnExistingEntry)
{
    folder.makeDirectory("work/target");
    folder.writeFile("work/target/doc.pdf", "kept");
    const std::string source = folder.writeFile("work/doc.pdf", "moved");
    EXPECT_EQ(dwl::moveFile(wide(source), work + L"/target", L"doc.pdf"), L"doc (2).pdf");
    EXPECT_EQ(contentOf(folder / "work/target/doc.pdf"), "kept");
    EXPECT_EQ(contentOf(folder / "work/target/doc (2).pdf"), "moved");

    folder.makeDirectory("work/target/Share");
    folder.makeDirectory("work/Share/inner");
    EXPECT_EQ(dwl::moveDirectory(wide(folder / "work/Share"), work + L"/target", L"Share"), L"Share (2)");
    EXPECT_TRUE(exists(folder / "work/target/Share (2)/inner"));
}

TEST_F(LocalFileOperationsTest, MoveOntoItselfKeepsTheName)
{
    const std::string source = folder.writeFile("work/x", "own");
    EXPECT_EQ(dwl::moveFile(wide(source), work, L"x"), L"x");
    EXPECT_EQ(dwl::moveFile(wide(folder.path() + "//work/./x"), work, L"x"), L"x");

    // The item already carries the collision name because "x" belongs to another file: it keeps that name
    // instead of moving on to "x (3)".
    ASSERT_EQ(std::rename(source.c_str(), (folder / "work/x (2)").c_str()), 0);
    folder.writeFile("work/x", "other");
    EXPECT_EQ(dwl::moveFile(wide(folder / "work/x (2)"), work, L"x"), L"x (2)");
    EXPECT_EQ(contentOf(folder / "work/x (2)"), "own");
    EXPECT_EQ(contentOf(folder / "work/x"), "other");

    folder.makeDirectory("work/d");
    EXPECT_EQ(dwl::moveDirectory(wide(folder / "work/d"), work, L"d"), L"d");
}

TEST_F(LocalFileOperationsTest, FailuresNameTheItemAndCarryTheCode)
{
    try
    {
        dwl::moveFile(wide(folder / "work/missing"), work, L"y");
        FAIL() << "no exception";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(error.message().rfind(L"Cannot move file '" + work + L"/missing' to '" + work + L"/y'", 0), 0u)
            << qcl::string::utf16ToUtf8Lenient(error.message());
    }

    const std::wstring longParent = work + L"/" + std::wstring(32767, L'p');
    try
    {
        dwl::createDirectory(longParent, L"name");
        FAIL() << "no exception";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_INVALID_DATA));
        EXPECT_EQ(error.message().rfind(L"Cannot create directory (name too long) '", 0), 0u);
    }
}

TEST_F(LocalFileOperationsTest, CollisionAttemptsAreBounded)
{
    folder.makeDirectory("work/full");
    folder.writeFile("work/full/n");
    for (int i = 2; i <= dwl::maxCollisionAttempts; ++i)
        folder.writeFile("work/full/n (" + std::to_string(i) + ")");
    try
    {
        dwl::createDirectory(wide(folder / "work/full"), L"n");
        FAIL() << "no exception";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_ALREADY_EXISTS));
    }
    EXPECT_FALSE(exists(folder / "work/full/n (10001)"));
}

TEST_F(LocalFileOperationsTest, DeletionGoesToTheTrashWhateverThePathLength)
{
    folder.makeDirectory("work/tree/sub");
    folder.writeFile("work/tree/sub/file", "keep me");
    dwl::deleteFileOrDirectory(work + L"/tree/");
    EXPECT_FALSE(exists(folder / "work/tree"));
    EXPECT_EQ(contentOf(folder / "data/Trash/files/tree/sub/file"), "keep me");
    EXPECT_NE(contentOf(folder / "data/Trash/info/tree.trashinfo").find("Path=" + folder.path() + "/work/tree\n"),
              std::string::npos);

    // Far beyond the length at which the shell would have been bypassed.
    std::string deep = "work";
    while (deep.size() < 400)
        deep += "/" + std::string(50, 'd');
    folder.makeDirectory(deep);
    const std::string file = folder.writeFile(deep + "/long", "long");
    dwl::deleteFileOrDirectory(wide(file));
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(contentOf(folder / "data/Trash/files/long"), "long");
}

TEST_F(LocalFileOperationsTest, FailedDeletionLeavesTheItemAndSaysWhy)
{
    // A file where the trash folder should be: no trash can be used, so nothing may be deleted.
    folder.makeDirectory("data");
    folder.writeFile("data/Trash");
    const std::string item = folder.writeFile("work/precious", "mine");
    try
    {
        dwl::deleteFileOrDirectory(wide(item));
        FAIL() << "no exception";
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        EXPECT_EQ(error.message(),
                  L"Cannot delete '" + wide(item) + L"' with flags 0x654: SHFileOperationW returned 5");
    }
    EXPECT_EQ(contentOf(item), "mine");

    try
    {
        dwl::shellFileOperation(wide(item), work + L"/copy", FO_COPY, FOF_SILENT);
        FAIL() << "no exception";
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        EXPECT_EQ(error.message(), L"Cannot copy from '" + wide(item) + L"' to '" + work +
                                       L"/copy' with flags 0x4: SHFileOperationW returned 50");
    }
}
} // namespace
