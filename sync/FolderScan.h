#pragma once
// One scan of a folder into a snapshot tree: what the scanner thread runs each time the folder was quiet.
//
// Hidden, system and temporary items, links, mount points and special files are left out with a log line, and
// so are names that are not valid UTF-8. A subfolder that cannot be listed stays in the snapshot without
// children and with its listing error; a file met at more than one place (hard links) stays at each, and the
// folders holding it are noted (Tree::Directory's scan notes, which also mark the folders above a note).

#include "sync/TreeIndex.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dwl
{
class FolderScan
{
public:
    // Called before each entry; may throw to abandon the scan.
    using Checkpoint = std::function<void()>;

    explicit FolderScan(Checkpoint checkpoint = {});
    ~FolderScan();

    // Adds below the empty `root` what lies in the folder at `path`, in the order of the enumeration. Throws
    // qcl::SystemError when the folder itself cannot be enumerated, or a subfolder went away during the scan;
    // the local ids come with the enumeration.
    void run(Tree::Directory& root, const std::wstring& path);
    // The same for the folder open at the descriptor `folder`, whose path is `path`: that folder is scanned
    // whatever the path names meanwhile.
    void run(Tree::Directory& root, int folder, const std::wstring& path);

private:
    class Entries; // one folder's listing, open while its subfolders are scanned

    // The listing for folders at `depth` below the root, made once a scan.
    Entries& entriesAt(std::size_t depth);
    // Reads the folder open at `depth` into `directory`.
    void scan(Tree::Directory& directory, const std::wstring& path, std::size_t depth);
    // Runs `open` on the listing of the root, then scans it.
    template <class Open> void runFrom(Tree::Directory& root, const std::wstring& path, Open open);
    // Opens the subfolder `directory` of the folder listed by `parentEntries` at `depth` and reads it; when it
    // cannot be read, `directory` is left empty with the error's code as its listing error.
    void scanSubfolder(Tree::Directory& directory, const Entries& parentEntries, const std::wstring& path,
                       std::size_t depth);
    void addFile(Tree::Directory& directory, std::unique_ptr<Tree::File> file);

    Checkpoint mCheckpoint;
    // Every node of the scan by local id, those of subtrees not yet attached included.
    std::unique_ptr<Tree::LocalIdIndex> mNodesByLocalId;
    // One listing a depth, reused for every folder met there: the buffers are made once a scan, not once a
    // folder.
    std::vector<std::unique_ptr<Entries>> mOpenFolders;
};
} // namespace dwl
