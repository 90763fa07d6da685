// Who may change what a folder holds: its owner, and the write permissions of its access ACL (read through
// the system's ACL library; on a file system without ACLs, its mode), with the groups among them that have
// other members than the user.

#include "compat/FileNameText.h"
#include "compat/FileObject.h"
#include "compat/HandleTable.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"

#include <acl/libacl.h>
#include <sys/acl.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

namespace
{
using compat::FolderAccess;

constexpr std::size_t kEntryBufferSize = 64 * 1024;

BOOL failWithErrno(int error)
{
    compat::setLastErrorFromErrno(error);
    return FALSE;
}

// Whether anybody but `user` belongs to `group`: named among its members, or with it as primary group. A
// member whose name is not known counts as another.
bool groupHasOtherMembers(gid_t group, uid_t user)
{
    std::vector<char> buffer(kEntryBufferSize);
    struct group entry = {};
    struct group* found = nullptr;
    if (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) != 0)
        return true;
    if (found != nullptr)
        for (char** member = found->gr_mem; *member != nullptr; ++member)
        {
            std::vector<char> userBuffer(kEntryBufferSize);
            struct passwd who = {};
            struct passwd* known = nullptr;
            if (::getpwnam_r(*member, &who, userBuffer.data(), userBuffer.size(), &known) != 0 ||
                known == nullptr || known->pw_uid != user)
                return true;
        }
    bool other = false;
    ::setpwent();
    struct passwd who = {};
    struct passwd* next = nullptr;
    int error = 0;
    while ((error = ::getpwent_r(&who, buffer.data(), buffer.size(), &next)) == 0 && next != nullptr)
        if (next->pw_gid == group && next->pw_uid != user)
        {
            other = true;
            break;
        }
    ::endpwent();
    // An entry too long to be read may be another member.
    return other || error == ERANGE;
}

// The user the process acts as, and whether its own group is its alone (asked once, when a group that may
// write needs it).
class Judge
{
public:
    // nullopt with errno when it cannot be told.
    std::optional<FolderAccess> accessOf(const char* aclPath, const struct stat& status);

private:
    bool isUsersOwnGroup(gid_t group);
    // Whether anybody but the owner may write, as the access ACL says; nullopt with errno when it cannot be
    // read.
    std::optional<bool> othersMayWrite(const char* aclPath, const struct stat& status);

    uid_t mUser = ::geteuid();
    gid_t mGroup = ::getegid();
    std::optional<bool> mGroupIsUsersAlone;
};

bool Judge::isUsersOwnGroup(gid_t group)
{
    if (group != mGroup)
        return false;
    if (!mGroupIsUsersAlone)
        mGroupIsUsersAlone = !groupHasOtherMembers(group, mUser);
    return *mGroupIsUsersAlone;
}

std::optional<bool> Judge::othersMayWrite(const char* aclPath, const struct stat& status)
{
    acl_t read = ::acl_get_file(aclPath, ACL_TYPE_ACCESS);
    if (read == nullptr && (errno == ENOTSUP || errno == ENOSYS))
        read = ::acl_from_mode(status.st_mode);
    if (read == nullptr)
        return std::nullopt;
    const std::unique_ptr<void, int (*)(void*)> acl(read, ::acl_free);

    // The mask, where there is one, bounds what the named entries and the owning group are granted.
    struct Grant
    {
        acl_tag_t tag;
        bool write;
        id_t id;
    };
    std::vector<Grant> grants;
    bool maskGrantsWrite = true;
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(read, which, &entry) == 1; which = ACL_NEXT_ENTRY)
    {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_permset_t permissions;
        if (::acl_get_tag_type(entry, &tag) != 0 || ::acl_get_permset(entry, &permissions) != 0)
            return std::nullopt;
        const bool write = ::acl_get_perm(permissions, ACL_WRITE) == 1;
        id_t id = 0;
        if (tag == ACL_USER || tag == ACL_GROUP)
        {
            void* qualifier = ::acl_get_qualifier(entry);
            if (qualifier == nullptr)
                return std::nullopt;
            id = tag == ACL_USER ? *static_cast<uid_t*>(qualifier) : *static_cast<gid_t*>(qualifier);
            ::acl_free(qualifier);
        }
        if (tag == ACL_MASK)
            maskGrantsWrite = write;
        else
            grants.push_back({tag, write, id});
    }
    return std::any_of(grants.begin(), grants.end(),
                       [&](const Grant& grant)
                       {
                           if (!grant.write)
                               return false;
                           switch (grant.tag)
                           {
                           case ACL_OTHER:
                               return true;
                           case ACL_USER:
                               return maskGrantsWrite && grant.id != mUser;
                           case ACL_GROUP_OBJ:
                               return maskGrantsWrite && !isUsersOwnGroup(status.st_gid);
                           case ACL_GROUP:
                               return maskGrantsWrite && !isUsersOwnGroup(static_cast<gid_t>(grant.id));
                           default:
                               return false;
                           }
                       });
}

std::optional<FolderAccess> Judge::accessOf(const char* aclPath, const struct stat& status)
{
    if (status.st_uid != mUser)
        return FolderAccess::OtherOwner;
    const std::optional<bool> open = othersMayWrite(aclPath, status);
    if (!open)
        return std::nullopt;
    return *open ? FolderAccess::WritableByOthers : FolderAccess::OwnersAlone;
}

// The access of the folder at `path` (a path of /proc/self/fd for an open one), into `access`.
BOOL judgeFolderAt(const std::string& path, FolderAccess& access)
{
    struct stat status = {};
    if (::stat(path.c_str(), &status) != 0)
        return failWithErrno(errno);
    const std::optional<FolderAccess> judged = Judge().accessOf(path.c_str(), status);
    if (!judged)
        return failWithErrno(errno);
    access = *judged;
    return TRUE;
}

std::string descriptorPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

class Descriptor
{
public:
    explicit Descriptor(int fd) : mFd(fd) {}
    ~Descriptor()
    {
        if (mFd != -1)
            ::close(mFd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return mFd; }

private:
    int mFd;
};

// The names in the folder open as `fd`, sorted.
std::optional<std::vector<std::string>> namesIn(int fd)
{
    const int listing = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing == -1)
        return std::nullopt;
    DIR* directory = ::fdopendir(listing);
    if (directory == nullptr)
    {
        ::close(listing);
        return std::nullopt;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(directory))
    {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    const int error = errno;
    ::closedir(directory);
    if (error != 0)
    {
        errno = error;
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}
} // namespace

BOOL compat::getFolderAccess(HANDLE folder, FolderAccess& access)
{
    const auto file = compat::findHandle<FileObject>(folder);
    if (!file)
        return FALSE;
    return judgeFolderAt(file->fd == -1 ? file->path : descriptorPath(file->fd), access);
}

BOOL compat::getFolderAccess(LPCWSTR path, FolderAccess& access)
{
    std::string systemPath;
    return compat::toSystemPath(path, systemPath) && judgeFolderAt(systemPath, access);
}

BOOL compat::findInnerFolderOpenToOthers(HANDLE folder, std::wstring& name, FolderAccess& access)
{
    const auto file = compat::findHandle<FileObject>(folder);
    if (!file)
        return FALSE;
    if (file->fd == -1 || !file->isDirectory)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::optional<std::vector<std::string>> names = namesIn(file->fd);
    if (!names)
        return failWithErrno(errno);
    Judge judge; // asks about the user's group once for all
    for (const std::string& entry : *names)
    {
        // Opened without following a link, and without reading it: a folder the user cannot read is still
        // judged.
        const Descriptor inner(::openat(file->fd, entry.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status = {};
        if (inner.get() == -1 || ::fstat(inner.get(), &status) != 0)
        {
            if (errno == ENOENT)
                continue; // gone meanwhile
            return failWithErrno(errno);
        }
        if (!S_ISDIR(status.st_mode))
            continue;
        const std::optional<FolderAccess> judged =
            judge.accessOf(descriptorPath(inner.get()).c_str(), status);
        if (!judged)
            return failWithErrno(errno);
        if (*judged != FolderAccess::OwnersAlone)
        {
            access = *judged;
            name = compat::fileNameToUtf16(entry);
            return TRUE;
        }
    }
    name.clear();
    access = FolderAccess::OwnersAlone;
    return TRUE;
}
