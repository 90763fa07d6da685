#pragma once
// File operations relative to an open folder: each item is named by a folder descriptor and one entry name,
// so that no symbolic link on the way is followed and no path can lead out of the folder that was opened. The
// engine makes its changes inside the Wayfold folder through these. Calls return 0 or the errno value and set
// the thread's last error to the Windows code.

#include "compat/Types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace compat::at
{
// Owns one open descriptor.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : mFd(fd) {}
    Descriptor(Descriptor&& other) noexcept : mFd(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    ~Descriptor() { reset(); }

    int get() const { return mFd; }
    explicit operator bool() const { return mFd != -1; }
    int release();
    void reset(int fd = -1);

private:
    int mFd = -1;
};

// The device and inode numbers of an item. While a descriptor of an item is open, its inode cannot be handed
// to another item, so an entry with the identity of an open item is that item.
struct Identity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
};

// What GetFileInformationByHandle reports of an item, for comparison with what the engine recorded.
struct ItemStatus
{
    std::uint64_t fileIndex = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWriteTime = 0; // FILETIME as one number
    std::uint64_t changeTime = 0;    // the same; set by every change of the content or the metadata
    DWORD attributes = 0;
    bool isDirectory = false;
    Identity identity;
    std::uint32_t links = 0; // names of the item
    bool isOwn = false;      // belongs to the user the program runs as
    std::uint32_t permissions = 0; // the mode's permission bits
};

// Opens the folder at an absolute path; the path is the user's choice, so links in it are followed.
int openFolder(const std::string& path, Descriptor& folder);
// Opens the entry `name` of `folder` as a folder; a symbolic link, or anything but a folder, fails (ELOOP,
// ENOTDIR). `folderPath` (ending with "/") is the folder's path, for the stored attributes only.
int openFolderAt(int folder, const std::string& name, Descriptor& opened);

// The status of the open item itself (`path`, its path, for the stored attributes only), and of the entry `name`
// of `folder` (a link is reported as the link).
int statusOf(int item, const std::string& path, ItemStatus& status);
int statusAt(int folder, const std::string& folderPath, const std::string& name, ItemStatus& status);

int identityOf(int fd, Identity& identity);
// The identity of the item at an absolute path, links followed as openFolder follows them.
int identityOfPath(const std::string& path, Identity& identity);
// The identity of the entry `name` of `folder` (a link is reported as the link).
int identityAt(int folder, const std::string& name, Identity& identity);

// The entry names of the folder, without "." and "..".
int entriesOf(int folder, std::vector<std::string>& names);

int createFolderAt(int folder, const std::string& name);
// Creates the new file `name` for writing (never through a link) and hands it over as a file handle, hidden
// when asked (the stored attribute of the layer).
int createFileAt(int folder, const std::string& name, const std::string& path, bool hidden, HANDLE& file);
// Opens the existing file `name` for reading, never through a link, with the sharing mode of CreateFileW
// (ERROR_SHARING_VIOLATION when another open conflicts), and hands it over as a file handle.
int openFileAt(int folder, const std::string& name, const std::string& path, DWORD shareMode, HANDLE& file);
// Sets or clears the stored hidden attribute of an open file handle made by createFileAt.
int setHidden(HANDLE file, bool hidden);
// Gives an open file handle made by createFileAt the permission bits that a file it replaces had, as far as a file
// the program makes may have them: never writable by the group or others, never set-id.
int takePermissions(HANDLE file, std::uint32_t permissions);
// Sets the stored hidden attribute of the entry `name` of `folder` (`folderPath`, ending with "/", its path), and
// so of every other name of the same file.
int hideAt(int folder, const std::string& folderPath, const std::string& name);
// Takes a write lease on the file `name` (never through a link), held until `lease` is closed. The system grants
// it only while no other descriptor of the file is open, in this process or any other; while it is held, an open of
// the file by anyone else waits. EAGAIN when the file is open elsewhere (or leased by another program); another
// error when no lease can be had at all (EINVAL where the file system offers none, EACCES or EPERM for a file of
// another owner).
int leaseFileAt(int folder, const std::string& name, Descriptor& lease);
// Whether the file system of `file` grants write leases at all: asks for one on `file`, a file this process
// made and holds open for writing (so that nobody else can have it open), and lets it go at once. 0 when it
// was granted; otherwise the errno value, which says nothing about any other file (EAGAIN where a network
// file system grants none without a delegation, EINVAL where the file system has no leases).
int probeWriteLease(HANDLE file);
// Whether the write lease held on `lease` (see leaseFileAt) is still whole: nobody has tried to open the file
// since it was taken. False when that cannot be read.
bool isLeaseUnbroken(int lease);

// Moves an entry, never replacing what is at the target (EEXIST).
int renameAt(int fromFolder, const std::string& from, int toFolder, const std::string& to);
// Swaps two entries of one folder in one step.
int exchangeAt(int folder, const std::string& first, const std::string& second);
int removeFileAt(int folder, const std::string& name);
int removeFolderAt(int folder, const std::string& name);
// Makes the folder's entries durable.
int syncFolder(int folder);
} // namespace compat::at
