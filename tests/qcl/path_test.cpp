#include "qcl/Error.h"
#include "qcl/Path.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace
{
TEST(Path, SplitsIntoFourPartsAndJoinsBack)
{
    const qcl::Path path(L"/a/b/c.txt");
    EXPECT_EQ(path.drive(), L"");
    EXPECT_EQ(path.directory(), L"/a/b/");
    EXPECT_EQ(path.fileName(), L"c");
    EXPECT_EQ(path.extension(), L".txt");
    EXPECT_EQ(path.toString(), L"/a/b/c.txt");

    const qcl::Path prefixed(L"\\\\?\\/a/b/c.tar.gz");
    EXPECT_EQ(prefixed.drive(), L"\\\\?\\");
    EXPECT_EQ(prefixed.directory(), L"/a/b/");
    EXPECT_EQ(prefixed.fileName(), L"c.tar");
    EXPECT_EQ(prefixed.extension(), L".gz");
}

TEST(Path, EveryTextJoinsBackUnchanged)
{
    for (const wchar_t* text : {L"/a/..", L"/a/b.", L"/a/.", L".bashrc", L"name", L"dir/", L"/", L"a.b.c",
                                L"C:/x", L"/a/\\\\?\\b"})
        EXPECT_EQ(qcl::Path(text).toString(), text);
}

TEST(Path, LongPathsSplitWithoutLimit)
{
    const std::wstring directory = L"/" + std::wstring(300, L'd') + L"/" + std::wstring(300, L'e') + L"/";
    const std::wstring name(400, L'n');
    const qcl::Path path(directory + name + L".ext");
    EXPECT_EQ(path.directory(), directory);
    EXPECT_EQ(path.fileName(), name);
    EXPECT_EQ(path.toString(), directory + name + L".ext");
}

TEST(Path, SettersKeepTheirRules)
{
    qcl::Path path;
    path.setDirectory(L"/home/user");
    EXPECT_EQ(path.directory(), L"/home/user/");
    path.appendDirectory(L"quillmere");
    path.appendDirectory(L"Wayfold/");
    path.setFileName(L"Configuration");
    EXPECT_EQ(path.toString(), L"/home/user/quillmere/Wayfold/Configuration");
    path.setExtension(L"txt");
    EXPECT_EQ(path.extension(), L".txt");
    path.setExtension(L".");
    EXPECT_EQ(path.extension(), L"");
    path.setDrive(L":");
    EXPECT_EQ(path.drive(), L"");
    path.setDrive(L"\\\\?\\");
    EXPECT_EQ(path.drive(), L"\\\\?\\");
    path.setDrive(L"C");
    EXPECT_EQ(path.drive(), L"C:");

    EXPECT_THROW(path.setFileName(L".."), std::invalid_argument);
    EXPECT_THROW(path.setFileName(L"."), std::invalid_argument);
    EXPECT_THROW(path.appendDirectory(L"\\\\?\\/x"), std::invalid_argument);
    path.assign(L"");
    EXPECT_EQ(path.toString(), L"");
}

TEST(Path, ParentDirectory)
{
    EXPECT_EQ(qcl::Path(L"/a/b/").parentDirectory(), L"/a/");
    EXPECT_EQ(qcl::Path(L"/a/").parentDirectory(), L"/");
    EXPECT_EQ(qcl::Path(L"/").parentDirectory(), L"");
    EXPECT_EQ(qcl::Path(L"/a/b/file").parentDirectory(), L"/a/");
}

TEST(Path, CanonicalisedJoin)
{
    qcl::Path path(L"/data/logs/../templates/./scriblet.Wayfold.cfg");
    EXPECT_EQ(path.toString(true), L"/data/templates/scriblet.Wayfold.cfg");
    std::wstring out = L"unchanged";
    EXPECT_TRUE(qcl::path::canonicalize(out, L""));
    EXPECT_EQ(out, L"");
}

TEST(LongPath, PrefixFromTheThresholdOn)
{
    const std::wstring short259 = L"/" + std::wstring(258, L'x');
    const std::wstring long260 = L"/" + std::wstring(259, L'x');
    EXPECT_EQ(qcl::path::toLongPath(short259, 260), short259);
    EXPECT_EQ(qcl::path::toLongPath(long260, 260), L"\\\\?\\" + long260);
    EXPECT_EQ(qcl::path::toLongPath(L"\\\\?\\" + long260, 260), L"\\\\?\\" + long260);
    const std::wstring directory248 = L"/" + std::wstring(247, L'd');
    EXPECT_EQ(qcl::path::withLongPathPrefix(directory248.substr(1), 248), directory248.substr(1));
    EXPECT_EQ(qcl::path::withLongPathPrefix(directory248, 248), L"\\\\?\\" + directory248);
}

TEST(LongPath, RelativeDotPathsAreRefusedOnlyByToLongPath)
{
    const std::wstring relative = L"./" + std::wstring(298, L'x');
    try
    {
        qcl::path::toLongPath(relative, 260);
        FAIL() << "no exception";
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        EXPECT_EQ(error.message(), L"Relative path cannot be prefixed with \".\" ");
    }
    EXPECT_EQ(qcl::path::withLongPathPrefix(relative, 260), L"\\\\?\\" + relative);
    EXPECT_EQ(qcl::path::toLongPath(L"./short", 260), L"./short");
}
} // namespace
