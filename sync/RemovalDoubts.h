#pragma once
// Whether the removals that a snapshot shows can be trusted. An item moved during a scan, from a folder not
// yet read to one already read, is in neither place in the snapshot: taken for removed, it would be deleted
// on the server and come back as a new item without its history. A snapshot whose scan may have met such a
// move (an entry was made, removed or moved meanwhile, or that cannot be known) has its removals in doubt;
// they hold once the next scan finds every item that this one found: whatever it lacks, both lacked.

#include "sync/Tree.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace dwl
{
class RemovalDoubts
{
public:
    // After a scan, with what is known of the changes during it: `complete` when every change made until now
    // has been seen (its record read, in a folder that is watched), `namesChanged` whether one made, removed
    // or moved an entry. Marks the snapshot (Tree::Directory::noteChangedDuringScan) when its removals are in
    // doubt, and then tells whether one more scan is wanted to settle them: a few in a row at most, since
    // nothing else may come to ask for one (a folder that no watch reports).
    bool judge(Tree::Directory& snapshot, bool complete, bool namesChanged);

private:
    static constexpr int kMostScansToSettle = 3;

    // The local ids, in order, of what the last scan in doubt found; none after a scan without doubt.
    std::optional<std::vector<std::uint64_t>> mFound;
    int mScansToSettle = 0; // asked for in a row
};
} // namespace dwl
