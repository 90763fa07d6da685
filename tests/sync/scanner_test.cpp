#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "qcl/File.h"
#include "qcl/String.h"
#include "sync/FolderScan.h"
#include "sync/Scanner.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
std::string native(const std::wstring& path)
{
    std::string bytes;
    compat::utf16ToFileName(path.data(), path.data() + path.size(), bytes);
    return bytes;
}

using namespace std::chrono_literals;
using dwl::Tree;

// Relative path (with "/") to size; directories have the size -1.
using Listing = std::map<std::string, long long>;

void list(const Tree::Directory& directory, const std::string& prefix, Listing& listing)
{
    for (const Tree::Node& child : directory.children())
    {
        const std::string path = prefix + native(child.name());
        if (const Tree::Directory* subdirectory = child.asDirectory())
        {
            listing[path] = -1;
            list(*subdirectory, path + "/", listing);
        }
        else
            listing[path] = static_cast<long long>(child.asFile()->size());
    }
}

// Keeps what the scanner hands over, as the receiver in the program does: a copy of every snapshot.
class Receiver
{
public:
    void snapshot(Tree::Directory* root)
    {
        Listing listing;
        list(*root, "", listing);
        std::lock_guard lock(mMutex);
        mRootNames.push_back(root->name());
        mSnapshots.push_back(std::move(listing));
        mChanged.notify_all();
    }
    void folderError(const std::wstring& message)
    {
        std::lock_guard lock(mMutex);
        mErrors.push_back(message);
        mChanged.notify_all();
    }

    // Waits (bounded, for a failing test) until the predicate holds for the snapshots and errors so far.
    template <class Predicate>
    bool waitUntil(Predicate predicate)
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, 120s, [&] { return predicate(mSnapshots, mErrors); });
    }
    std::size_t snapshotCount()
    {
        std::lock_guard lock(mMutex);
        return mSnapshots.size();
    }
    Listing last()
    {
        std::lock_guard lock(mMutex);
        return mSnapshots.back();
    }
    std::wstring lastRootName()
    {
        std::lock_guard lock(mMutex);
        return mRootNames.back();
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<Listing> mSnapshots;
    std::vector<std::wstring> mRootNames;
    std::vector<std::wstring> mErrors;
};

class ScannerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        root = folder.makeDirectory("root");
        scanner.setQuietTime(200ms);
        scanner.setSnapshotCallback([this](Tree::Directory* snapshot) { receiver.snapshot(snapshot); });
        scanner.setFolderErrorCallback([this](const std::wstring& message) { receiver.folderError(message); });
    }
    void TearDown() override { scanner.stop(); }

    void start()
    {
        scanner.setFolder(dwl::PinnedFolder::of(compat::fileNameToUtf16(root)));
        scanner.start();
    }
    Listing waitForSnapshot(std::size_t count)
    {
        EXPECT_TRUE(receiver.waitUntil([&](const auto& snapshots, const auto&) { return snapshots.size() >= count; }));
        return receiver.last();
    }
    void setAttribute(const std::string& relative, DWORD attribute)
    {
        const std::wstring path = compat::fileNameToUtf16(folder / relative);
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), GetFileAttributesW(path.c_str()) | attribute));
    }

    test::ScratchFolder folder;
    std::string root;
    Receiver receiver;
    dwl::Scanner scanner;
};

TEST_F(ScannerTest, EmptyFolderGivesTheRootAlone)
{
    start();
    EXPECT_TRUE(waitForSnapshot(1).empty());
    EXPECT_EQ(receiver.lastRootName(), compat::fileNameToUtf16(root));
}

TEST_F(ScannerTest, SkipsHiddenSystemTemporaryLinksMountsSpecialFilesAndBadNames)
{
    folder.writeFile("root/plain.txt", "hello");
    folder.writeFile("root/.dotfile", "");
    folder.makeDirectory("root/dir");
    folder.writeFile("root/dir/inner.txt", "abc");
    folder.writeFile("root/hidden.txt");
    setAttribute("root/hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    folder.makeDirectory("root/hiddenDir");
    folder.writeFile("root/hiddenDir/below");
    setAttribute("root/hiddenDir", FILE_ATTRIBUTE_HIDDEN);
    folder.writeFile("root/system.txt");
    setAttribute("root/system.txt", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    folder.writeFile("root/temporary.txt");
    setAttribute("root/temporary.txt", FILE_ATTRIBUTE_TEMPORARY);
    folder.makeDirectory("outside");
    folder.writeFile("outside/behind-link");
    ASSERT_EQ(::symlink((folder / "outside").c_str(), (folder / "root/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink("plain.txt", (folder / "root/filelink").c_str()), 0);
    ASSERT_EQ(::mkfifo((folder / "root/fifo").c_str(), 0600), 0);
    const int unixSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = folder / "root/socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(unixSocket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    folder.writeFile("root/bad\xff name");
    const bool mounted = folder.mountTmpfs("root/mounted");
    if (mounted)
        folder.writeFile("root/mounted/on-tmpfs");

    start();
    const Listing expected{{".dotfile", 0}, {"dir", -1}, {"dir/inner.txt", 3}, {"plain.txt", 5}};
    EXPECT_EQ(waitForSnapshot(1), expected);
    ::close(unixSocket);
    if (!mounted)
        GTEST_SKIP() << "the mount point case needs permission to mount a tmpfs";
}

// The scan notes of the folders, by relative path ("" for the root).
using Notes = std::map<std::string, std::string>;

void listNotes(const Tree::Directory& directory, const std::string& path, Notes& notes)
{
    std::string note;
    if (directory.holdsRepeatedLocalId())
        note += "repeat ";
    if (directory.hasNotesBelow())
        note += "below ";
    if (!directory.isContentKnown())
        note += "error " + std::to_string(directory.listingError());
    if (!note.empty())
        notes[path] = note;
    for (const Tree::Node& child : directory.children())
        if (const Tree::Directory* subdirectory = child.asDirectory())
            listNotes(*subdirectory, path + "/" + native(child.name()), notes);
}

struct Scanned
{
    Listing listing;
    Notes notes;
};

Scanned scan(const std::string& root)
{
    const std::wstring path = compat::fileNameToUtf16(root);
    Tree::Directory snapshot(qcl::file::getFileId(path), path);
    dwl::FolderScan().run(snapshot, path);
    Scanned scanned;
    list(snapshot, "", scanned.listing);
    listNotes(snapshot, "", scanned.notes);
    return scanned;
}

TEST_F(ScannerTest, HardLinksStayAtEveryPlaceAndTheirFoldersAreNoted)
{
    for (const char* directory : {"root/a", "root/b/deep", "root/c"})
        folder.makeDirectory(directory);
    folder.writeFile("root/a/one", "linked");
    folder.writeFile("root/c/plain", "");
    for (const char* link : {"root/b/deep/two", "root/b/deep/three"})
        ASSERT_EQ(::link((folder / "root/a/one").c_str(), (folder / link).c_str()), 0);

    const Scanned scanned = scan(root);
    const Listing listing{{"a", -1},           {"a/one", 6},      {"b", -1}, {"b/deep", -1},
                          {"b/deep/three", 6}, {"b/deep/two", 6}, {"c", -1}, {"c/plain", 0}};
    EXPECT_EQ(scanned.listing, listing);
    const Notes notes{{"", "below "}, {"/a", "repeat "}, {"/b", "below "}, {"/b/deep", "repeat "}};
    EXPECT_EQ(scanned.notes, notes);
}

// Root ignores file modes: the body runs as an ordinary user in a child process. The result is its exit
// status.
int asOrdinaryUser(const std::function<int()>& body)
{
    if (::geteuid() != 0)
        return body();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? body() : 100);
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ScannerTest, FolderThatCannotBeReadStaysWithoutContentWhileTheRestIsScanned)
{
    for (const char* directory : {"root/open", "root/locked/sub", "root/names-only"})
        folder.makeDirectory(directory);
    folder.writeFile("root/open/x.txt", "xx");
    folder.writeFile("root/locked/secret.txt");
    folder.writeFile("root/locked/sub/deep.txt");
    folder.writeFile("root/names-only/y.txt");
    folder.writeFile("root/z.txt", "z");
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((folder / "root/locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod((folder / "root/names-only").c_str(), 0444), 0); // listed, but no entry can be read

    const int result = asOrdinaryUser(
        [&]
        {
            const Scanned scanned = scan(root);
            const Listing listing{
                {"locked", -1}, {"names-only", -1}, {"open", -1}, {"open/x.txt", 2}, {"z.txt", 1}};
            const Notes notes{{"", "below "}, {"/locked", "error 5"}, {"/names-only", "error 5"}};
            return scanned.listing == listing && scanned.notes == notes ? 0 : 1;
        });
    ::chmod((folder / "root/locked").c_str(), 0755);
    ::chmod((folder / "root/names-only").c_str(), 0755);
    EXPECT_EQ(result, 0);
}

// The scan reads ids, sizes and times with the listing; they must be what the file's own handle reports, since
// the ids are stored in the tree database and compared with ids read by path elsewhere.
void expectNodesMatchTheDisk(const Tree::Directory& directory, const std::wstring& path)
{
    for (const Tree::Node& child : directory.children())
    {
        const std::wstring childPath = path + L"/" + child.name();
        SCOPED_TRACE(native(childPath));
        EXPECT_EQ(child.localId(), qcl::file::getFileId(childPath));
        if (const Tree::Directory* subdirectory = child.asDirectory())
            expectNodesMatchTheDisk(*subdirectory, childPath);
        else
        {
            const qcl::Handle file = qcl::file::open(childPath, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0);
            const FILETIME lastWrite = qcl::File::getLastWriteTime(file.get());
            EXPECT_EQ(child.asFile()->size(), static_cast<std::uint64_t>(qcl::File::getSize(file.get())));
            EXPECT_EQ(child.asFile()->lastModificationTime(),
                      (std::uint64_t(lastWrite.dwHighDateTime) << 32) | lastWrite.dwLowDateTime);
        }
    }
}

TEST_F(ScannerTest, SnapshotIdsSizesAndTimesAreThoseReadByPath)
{
    folder.writeFile("root/a.txt", std::string(100000, 'a'));
    folder.makeDirectory("root/dir/deeper");
    folder.writeFile("root/dir/b.txt", "bb");
    folder.writeFile("root/dir/deeper/c.txt", "");
    folder.writeFile("root/dir/hidden.txt");
    setAttribute("root/dir/hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    // A new file that takes over a deleted file's inode must not keep the old id.
    const std::wstring rootPath = compat::fileNameToUtf16(root);
    folder.writeFile("root/replaced");
    const std::uint64_t before = qcl::file::getFileId(rootPath + L"/replaced");
    ASSERT_EQ(::unlink((folder / "root/replaced").c_str()), 0);
    folder.writeFile("root/replaced");

    Tree::Directory snapshot(qcl::file::getFileId(rootPath), rootPath);
    dwl::FolderScan().run(snapshot, rootPath);
    Listing listing;
    list(snapshot, "", listing);
    const Listing expected{{"a.txt", 100000}, {"dir", -1},       {"dir/b.txt", 2},
                           {"dir/deeper", -1}, {"dir/deeper/c.txt", 0}, {"replaced", 1}};
    EXPECT_EQ(listing, expected);
    expectNodesMatchTheDisk(snapshot, rootPath);
    for (const Tree::Node& child : snapshot.children())
    {
        if (child.name() == L"replaced")
        {
            EXPECT_NE(child.localId(), before);
        }
    }
}

TEST_F(ScannerTest, FolderThatIsMissingOrNoFolderIsReportedByItsPattern)
{
    folder.writeFile("root/file");
    for (const std::string relative : {"root/missing", "root/file"})
    {
        const std::wstring path = compat::fileNameToUtf16(folder / relative);
        Tree::Directory snapshot(0, path);
        try
        {
            dwl::FolderScan().run(snapshot, path);
            ADD_FAILURE() << relative << " was scanned";
        }
        catch (const qcl::SystemError& error)
        {
            EXPECT_EQ(error.message().rfind(L"Cannot find '" + path + L"/*': ", 0), 0u) << error.what();
            EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_PATH_NOT_FOUND));
        }
    }
}

TEST_F(ScannerTest, ChangesKeepPostponingTheScanUntilQuiet)
{
    scanner.setQuietTime(1s);
    start();
    waitForSnapshot(1);

    // One change every 100 ms: the folder never stays quiet for the quiet time until the writer is done.
    for (int i = 0; i < 10; ++i)
    {
        folder.writeFile("root/step" + std::to_string(i));
        std::this_thread::sleep_for(100ms);
    }
    const Listing after = waitForSnapshot(2);
    EXPECT_EQ(after.size(), 10u);
    EXPECT_EQ(receiver.snapshotCount(), 2u);
}

TEST_F(ScannerTest, BurstOfTenThousandFilesGivesOneRescan)
{
    scanner.setQuietTime(1s);
    start();
    waitForSnapshot(1);

    for (int i = 0; i < 10000; ++i)
        folder.writeFile("root/file" + std::to_string(i));
    const Listing after = waitForSnapshot(2);
    EXPECT_EQ(after.size(), 10000u);
    EXPECT_EQ(receiver.snapshotCount(), 2u);
}

TEST_F(ScannerTest, ReplacedFolderGivesNoSnapshotUntilItIsBack)
{
    folder.writeFile("root/share-content");
    start();
    EXPECT_EQ(waitForSnapshot(1).size(), 1u);

    ASSERT_EQ(std::rename(root.c_str(), (folder / "moved-away").c_str()), 0);
    folder.makeDirectory("root");
    EXPECT_TRUE(receiver.waitUntil([](const auto&, const auto& errors) { return !errors.empty(); }));
    EXPECT_EQ(receiver.snapshotCount(), 1u);

    ASSERT_EQ(::rmdir(root.c_str()), 0);
    ASSERT_EQ(std::rename((folder / "moved-away").c_str(), root.c_str()), 0);
    const Listing back = waitForSnapshot(2);
    EXPECT_EQ(back.size(), 1u);
}

TEST_F(ScannerTest, RegularRescanWithoutChanges)
{
    scanner.setRescanInterval(1);
    start();
    waitForSnapshot(3);
}
} // namespace
