#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "qcl/File.h"
#include "qcl/String.h"
#include "sync/CommandProcessorFiles.h"
#include "sync/LocalFolder.h"
#include "tests/support/ScratchFolder.h"
#include "tests/sync/RefusedLeases.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>
#include <utility>

namespace
{
// Runs right before an exchange of two names.
std::function<void()> gBeforeExchange;
} // namespace

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                         unsigned flags) noexcept
{
    if (gBeforeExchange && (flags & RENAME_EXCHANGE))
        std::exchange(gBeforeExchange, {})();
    using Function = int (*)(int, const char*, int, const char*, unsigned);
    static const auto next = reinterpret_cast<Function>(::dlsym(RTLD_NEXT, "renameat2"));
    return next(fromFolder, from, toFolder, to, flags);
}

namespace
{
using dwl::Tree;

// A tree that describes the scratch folder root/share/docs/report.txt as it is on disk, and the folder
// opened.
class LocalFolderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        folder.makeDirectory("root/share/docs");
        folder.writeFile("root/share/docs/report.txt", "v1");
        rootPath = wide(folder / "root");
        tree = std::make_unique<Tree::Directory>(0, rootPath);
        share = &tree->addChild(std::make_unique<Tree::Directory>(idOf("root/share"), L"share"));
        docs = &share->addChild(std::make_unique<Tree::Directory>(idOf("root/share/docs"), L"docs"));
        report = &docs->addChild(recordOf("root/share/docs/report.txt", L"report.txt"));
        local.open(*tree, dwl::PinnedFolder::of(rootPath));
    }

    static std::wstring wide(const std::string& path) { return compat::fileNameToUtf16(path); }
    std::uint64_t idOf(const std::string& relative) { return qcl::file::getFileId(wide(folder / relative)); }
    std::unique_ptr<Tree::File> recordOf(const std::string& relative, const std::wstring& name)
    {
        const qcl::Handle file = qcl::file::open(wide(folder / relative), GENERIC_READ, FILE_SHARE_READ,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        BY_HANDLE_FILE_INFORMATION information{};
        GetFileInformationByHandle(file.get(), &information);
        return std::make_unique<Tree::File>(
            qcl::File::getFileId(file.get()), name, information.nFileSizeLow,
            (std::uint64_t(information.ftLastWriteTime.dwHighDateTime) << 32) |
                information.ftLastWriteTime.dwLowDateTime);
    }
    // A download of "server" into docs, finished and not placed.
    dwl::LocalFolder::Download serverDownload()
    {
        auto download = local.createDownload(*docs, L".wayfold-download", L"report.txt", {});
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(download.handle(), "server", 6, &written, nullptr));
        download.written();
        download.finish();
        return download;
    }
    std::vector<std::string> trashed()
    {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder / "data/Trash/files", ignored))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string contentOf(const std::string& relative)
    {
        std::ifstream stream(folder / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(stream), {});
    }
    bool exists(const std::string& relative) { return std::filesystem::exists(folder / relative); }

    test::ScratchFolder folder;
    std::wstring rootPath;
    std::unique_ptr<Tree::Directory> tree;
    Tree::Directory* share = nullptr;
    Tree::Directory* docs = nullptr;
    Tree::File* report = nullptr;
    dwl::LocalFolder local;
};

TEST_F(LocalFolderTest, MatchingItemMatchesAndTheRootIsNeverTested)
{
    // The root's own local id is never tested: 0 here is not the folder's id.
    EXPECT_TRUE(local.matches(*report));
    EXPECT_TRUE(local.matches(*tree));
}

TEST_F(LocalFolderTest, RenamedParentDoesNotMatch)
{
    // Checked once, so that the folder is kept open: it is checked again on the next use.
    ASSERT_TRUE(local.matches(*report));
    ASSERT_EQ(std::rename((folder / "root/share/docs").c_str(), (folder / "root/share/papers").c_str()), 0);
    EXPECT_FALSE(local.matches(*report));
}

TEST_F(LocalFolderTest, ReplacedItemDoesNotMatch)
{
    // The new file must not reuse the old one's identity while the old one still exists.
    ASSERT_EQ(std::rename((folder / "root/share/docs/report.txt").c_str(), (folder / "root/old.txt").c_str()),
              0);
    folder.writeFile("root/share/docs/report.txt", "v2");
    EXPECT_FALSE(local.matches(*report));
    EXPECT_TRUE(local.matches(*docs));

    // Swapped back: the tree matches again.
    ASSERT_EQ(std::rename((folder / "root/old.txt").c_str(), (folder / "root/share/docs/report.txt").c_str()),
              0);
    EXPECT_TRUE(local.matches(*report));
}

TEST_F(LocalFolderTest, HiddenOrSystemItemOrAncestorDoesNotMatch)
{
    const std::wstring docsPath = wide(folder / "root/share/docs");
    ASSERT_TRUE(SetFileAttributesW(docsPath.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(local.matches(*report));
    ASSERT_TRUE(SetFileAttributesW(docsPath.c_str(), FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(local.matches(*report));

    const std::wstring reportPath = docsPath + L"/report.txt";
    ASSERT_TRUE(SetFileAttributesW(reportPath.c_str(), FILE_ATTRIBUTE_SYSTEM));
    EXPECT_FALSE(local.matches(*report));
}

TEST_F(LocalFolderTest, FolderSwappedForALinkAfterTheCheckLeavesEverythingOutsideAlone)
{
    // The check passes; then the folder is moved out and a link to a folder outside takes its place.
    ASSERT_TRUE(local.matches(*docs));
    folder.makeDirectory("outside");
    folder.writeFile("outside/report.txt", "not ours");
    ASSERT_EQ(std::rename((folder / "root/share/docs").c_str(), (folder / "moved-docs").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "outside").c_str(), (folder / "root/share/docs").c_str()), 0);

    EXPECT_THROW(local.trash(*report), dwl::LocalFolder::Mismatch);
    EXPECT_THROW(local.trash(*docs), dwl::LocalFolder::Mismatch);
    EXPECT_THROW(local.move(*report, *share, L"report.txt"), dwl::LocalFolder::Mismatch);
    EXPECT_TRUE(exists("outside/report.txt"));
    EXPECT_TRUE(exists("moved-docs/report.txt"));
    EXPECT_EQ(trashed(), std::vector<std::string>());
}

TEST_F(LocalFolderTest, TrashTakesOnlyWhatTheTreeRecords)
{
    // An edited file and a file that no snapshot has seen stay, with the folders that hold them.
    folder.makeDirectory("root/share/docs/inner");
    folder.writeFile("root/share/docs/inner/old.txt", "old");
    folder.writeFile("root/share/docs/plan.txt", "plan");
    auto& inner = docs->addChild(std::make_unique<Tree::Directory>(idOf("root/share/docs/inner"), L"inner"));
    inner.addChild(recordOf("root/share/docs/inner/old.txt", L"old.txt"));
    docs->addChild(recordOf("root/share/docs/plan.txt", L"plan.txt"));
    folder.writeFile("root/share/docs/inner/new.txt", "new");
    std::ofstream(folder / "root/share/docs/plan.txt", std::ios::app) << " edited";

    EXPECT_FALSE(local.trash(*docs));
    EXPECT_EQ(trashed(), (std::vector<std::string>{"old.txt", "report.txt"}));
    EXPECT_TRUE(exists("root/share/docs/inner/new.txt"));
    EXPECT_TRUE(exists("root/share/docs/plan.txt"));

    // A folder that holds only what was recorded goes whole.
    folder.makeDirectory("root/share/whole");
    folder.writeFile("root/share/whole/a.txt", "a");
    auto& whole = share->addChild(std::make_unique<Tree::Directory>(idOf("root/share/whole"), L"whole"));
    whole.addChild(recordOf("root/share/whole/a.txt", L"a.txt"));
    EXPECT_TRUE(local.trash(whole));
    EXPECT_EQ(trashed(), (std::vector<std::string>{"old.txt", "report.txt", "whole"}));
}

TEST_F(LocalFolderTest, ReplaceKeepsAFileSavedWhileTheDownloadRan)
{
    for (const bool byRename : {false, true})
    {
        auto download = serverDownload();
        if (byRename)
        {
            folder.writeFile("root/share/docs/saved.tmp", "saved by rename");
            ASSERT_EQ(std::rename((folder / "root/share/docs/saved.tmp").c_str(),
                                  (folder / "root/share/docs/report.txt").c_str()),
                      0);
        }
        else
            std::ofstream(folder / "root/share/docs/report.txt", std::ios::app) << " saved in place";

        EXPECT_FALSE(local.replace(download, *report));
        EXPECT_NE(contentOf("root/share/docs/report.txt"), "server");
    }
    EXPECT_EQ(contentOf("root/share/docs/report.txt"), "saved by rename");

    // Unchanged since the record: the download takes its place, and nothing else is left beside it. It keeps
    // the former file's permissions, never that others may write to it.
    const auto current = recordOf("root/share/docs/report.txt", L"report.txt");
    report->setLocalId(current->localId());
    report->setSize(current->size());
    report->setLastModificationTime(current->lastModificationTime());
    std::filesystem::permissions(folder / "root/share/docs/report.txt", std::filesystem::perms(0620));
    auto download = serverDownload();
    EXPECT_TRUE(local.replace(download, *report));
    EXPECT_EQ(contentOf("root/share/docs/report.txt"), "server");
    EXPECT_EQ(std::filesystem::status(folder / "root/share/docs/report.txt").permissions(),
              std::filesystem::perms(0600));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "root/share/docs"), {}), 1);
}

TEST_F(LocalFolderTest, AFileOpenElsewhereIsNotReplacedAndOnlyAProvenFileUnderALeaseIsRemoved)
{
    // As recorded, change time included.
    report->setChangeTime(dwl::commandprocessor::readFileFacts(wide(folder / "root/share/docs/report.txt")).changeTime);
    {
        std::ifstream held(folder / "root/share/docs/report.txt");
        auto download = serverDownload();
        try
        {
            local.replace(download, *report);
            ADD_FAILURE() << "replaced while open";
        }
        catch (const qcl::SystemError& error)
        {
            EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_SHARING_VIOLATION)) << error.what();
        }
        EXPECT_EQ(contentOf("root/share/docs/report.txt"), "v1");
    }
    // Closed: replaced, and the displaced file, provably the recorded one, is removed.
    auto download = serverDownload();
    EXPECT_TRUE(local.replace(download, *report));
    EXPECT_EQ(contentOf("root/share/docs/report.txt"), "server");
    EXPECT_EQ(trashed(), std::vector<std::string>());

    // Where no lease can be had, nothing keeps a writer out between the check and the swap: the displaced file
    // goes to the trash.
    const auto current = recordOf("root/share/docs/report.txt", L"report.txt");
    report->setLocalId(current->localId());
    report->setContent(current->size(), current->lastModificationTime(),
                       dwl::commandprocessor::readFileFacts(wide(folder / "root/share/docs/report.txt")).changeTime, 2);
    refusedleases::refusal = EINVAL;
    auto withoutLease = serverDownload();
    const bool replaced = local.replace(withoutLease, *report);
    refusedleases::refusal = 0;
    EXPECT_TRUE(replaced);
    EXPECT_EQ(trashed(), std::vector<std::string>{"report.txt"});
}

TEST_F(LocalFolderTest, WhereEveryWriteLeaseIsRefusedFilesAreStillReplacedAndTheFormerOnesTrashed)
{
    // As recorded, change time included: only the refusal keeps it from being removed.
    report->setChangeTime(
        dwl::commandprocessor::readFileFacts(wide(folder / "root/share/docs/report.txt")).changeTime);
    refusedleases::refusal = EAGAIN;
    auto download = serverDownload();
    bool replaced = false;
    EXPECT_NO_THROW(replaced = local.replace(download, *report));
    refusedleases::refusal = 0;
    EXPECT_TRUE(replaced);
    EXPECT_EQ(contentOf("root/share/docs/report.txt"), "server");
    EXPECT_EQ(trashed(), std::vector<std::string>{"report.txt"});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "root/share/docs"), {}), 1);
}

TEST_F(LocalFolderTest, AProgramThatOpensTheFileBetweenLeaseAndSwapWritesToAFileKeptInTheTrash)
{
    report->setChangeTime(
        dwl::commandprocessor::readFileFacts(wide(folder / "root/share/docs/report.txt")).changeTime);
    const std::string path = folder / "root/share/docs/report.txt";
    std::thread writer;
    // The open waits for the engine's lease, and goes on once it is let go.
    gBeforeExchange = [&]
    {
        writer = std::thread([path] { std::ofstream(path, std::ios::app) << " and a late edit"; });
        const auto breaking = []
        {
            std::ifstream locks("/proc/locks");
            return std::string(std::istreambuf_iterator<char>(locks), {}).find("BREAKING") !=
                   std::string::npos;
        };
        for (int wait = 0; wait < 500 && !breaking(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    auto download = serverDownload();
    EXPECT_TRUE(local.replace(download, *report));
    writer.join();
    EXPECT_EQ(contentOf("root/share/docs/report.txt"), "server");
    ASSERT_EQ(trashed(), std::vector<std::string>{"report.txt"});
    EXPECT_EQ(contentOf("data/Trash/files/report.txt"), "v1 and a late edit");
}

TEST_F(LocalFolderTest, AFormerFileThatTheTrashCannotTakeStaysAndTheDownloadWaits)
{
    // Not provably the recorded version (no change time recorded): it would go to the trash, which is a file.
    folder.makeDirectory("data");
    folder.writeFile("data/Trash", "not a folder");
    {
        auto download = serverDownload();
        EXPECT_THROW(local.replace(download, *report), qcl::SystemError);
        EXPECT_EQ(contentOf("root/share/docs/report.txt"), "v1");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "root/share/docs"), {}), 1);
    std::filesystem::remove(folder / "data/Trash");
    auto download = serverDownload();
    EXPECT_TRUE(local.replace(download, *report));
    EXPECT_EQ(contentOf("root/share/docs/report.txt"), "server");
    EXPECT_EQ(trashed(), std::vector<std::string>{"report.txt"});
}

TEST_F(LocalFolderTest, DownloadWhoseFolderWasMovedOrReplacedMeanwhileWaitsQuietly)
{
    for (const bool replaced : {false, true})
    {
        auto download = serverDownload();
        // The folder kept open is moved out, and maybe a new one takes its name.
        std::filesystem::remove_all(folder / "moved-docs");
        ASSERT_EQ(std::rename((folder / "root/share/docs").c_str(), (folder / "moved-docs").c_str()), 0);
        if (replaced)
            folder.makeDirectory("root/share/docs");

        EXPECT_THROW(local.place(download, L"new.txt"), dwl::LocalFolder::Mismatch) << replaced;
        EXPECT_FALSE(exists("moved-docs/new.txt"));
        EXPECT_FALSE(exists("root/share/docs/new.txt"));
        std::filesystem::remove_all(folder / "root/share/docs");
        ASSERT_EQ(std::rename((folder / "moved-docs").c_str(), (folder / "root/share/docs").c_str()), 0);
    }
}

TEST_F(LocalFolderTest, FoldersKeptOpenAreBoundedAndReleasedOnClose)
{
    const auto openDescriptors = []
    { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto before = openDescriptors();
    for (int n = 0; n < 300; ++n)
    {
        const std::string name = "f" + std::to_string(n);
        folder.makeDirectory("root/share/" + name);
        auto& made = share->addChild(std::make_unique<Tree::Directory>(
            idOf("root/share/" + name), std::wstring(name.begin(), name.end())));
        ASSERT_TRUE(local.matches(made)) << name;
    }
    EXPECT_LE(openDescriptors(), before + 257);
    local.close();
    EXPECT_LT(openDescriptors(), before);
}
} // namespace
