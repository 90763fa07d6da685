#pragma once
// The Wayfold folder as it was opened at the start: that folder itself (its device and local id), not
// whatever its path names later. Here an open descriptor does not keep a folder from being renamed or
// replaced, so the path can come to name another folder at any moment (the folder moved away, another folder
// or a link put in its place, a disk unmounted under it). Whoever works in the folder opens it through
// open(), which checks that the path still leads to the pinned folder, and then works relative to the
// descriptor it got.
//
// A plain value: the owner pins the folder before the workers start and gives each its copy.

#include "compat/FolderAt.h"
#include "qcl/Error.h"

#include <cstdint>
#include <string>

namespace dwl
{
class PinnedFolder
{
public:
    // The path no longer leads to the pinned folder (or nothing was pinned).
    class Lost : public qcl::basic_runtime_error<wchar_t>
    {
    public:
        using basic_runtime_error::basic_runtime_error;
    };

    // Pins nothing: open() throws Lost.
    PinnedFolder() = default;
    // Pins the folder that `path` names now; links on the way are followed, being the user's own set-up.
    // Throws qcl::SystemError when no folder can be opened there.
    static PinnedFolder of(const std::wstring& path);

    const std::wstring& path() const { return mPath; }
    std::uint64_t localId() const { return mLocalId; }
    bool isPinned() const { return mLocalId != 0; }

    // Opens the folder at the path: throws Lost unless it is the pinned folder, still the user's.
    compat::at::Descriptor open() const;
    // Whether the path still leads to the pinned folder, by its device and inode alone: one call, but a proof
    // only while the caller holds a descriptor from open(), which keeps the inode from going to another
    // folder.
    bool isStillAtPath() const;
    // Whether the open folder holds a folder named `name` (not a link to one).
    static bool holdsFolder(const compat::at::Descriptor& folder, const std::wstring& name);

private:
    std::wstring mPath;
    std::string mSystemPath;
    compat::at::Identity mIdentity;
    std::uint64_t mLocalId = 0;
};
} // namespace dwl
