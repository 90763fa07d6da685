#pragma once
// What a scan leaves on a snapshot for the command processor, which owns the tree, to settle before the
// snapshot is compared with it (the scan notes of Tree::Directory): folders whose content could not be read,
// and files met under more than one name (hard links). Each is logged and reported once, and again only after
// it was gone from a snapshot.

#include "sync/Tree.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>

namespace dwl
{
class ScanNotes
{
public:
    struct Reports
    {
        // A folder whose content is left as the tree has it: its node in the tree (the snapshot's while it is
        // new), the Share that holds it, and the system's text of the cause.
        std::function<void(const Tree::Node& folder, const Tree::Directory& share,
                           const std::wstring& reason)>
            unreadableFolder;
        // Another name of a file, left alone: its node in the snapshot, the snapshot's Share that holds it,
        // and the path below the root of the name that is synchronised.
        std::function<void(const Tree::File& name, const Tree::Directory& share, const std::wstring& syncedPath)>
            otherName;
    };

    // Of the names of one file, the snapshot keeps the one that `tree` records; failing that (it was renamed or
    // moved), of the names not left out before, one in the recorded folder, then one in the recorded Share, then
    // the first one met. The others leave the snapshot, so that none of them is taken for a move, a rename or a
    // removal. Names directly in the Wayfold folder (files there are never synchronised) take no part. One test
    // when the scan noted nothing.
    void settle(Tree::Directory& tree, Tree::Directory& snapshot, const Reports& reports);

private:
    // Local id and path of each folder and name reported, as long as the snapshots still hold it.
    std::set<std::pair<std::uint64_t, std::wstring>> mReported;
};
} // namespace dwl
