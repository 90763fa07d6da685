#include "sync/RemovalDoubts.h"

#include "qcl/Log.h"

#include <algorithm>
#include <utility>

namespace dwl
{
namespace
{
void collectIds(const Tree::Directory& directory, std::vector<std::uint64_t>& ids)
{
    for (const Tree::Node& child : directory.children())
    {
        ids.push_back(child.localId());
        if (const Tree::Directory* folder = child.asDirectory())
            collectIds(*folder, ids);
    }
}
} // namespace

bool RemovalDoubts::judge(Tree::Directory& snapshot, bool complete, bool namesChanged)
{
    if (complete && !namesChanged)
    {
        mFound.reset();
        mScansToSettle = 0;
        return false;
    }
    std::vector<std::uint64_t> found;
    collectIds(snapshot, found);
    std::sort(found.begin(), found.end());
    // Whatever this snapshot lacks, the one before lacked too when this one holds all that one held: it is
    // gone, not moved (unless it was missed twice, by two moves during two scans).
    const bool settled = mFound && std::includes(found.begin(), found.end(), mFound->begin(), mFound->end());
    mFound = std::move(found);
    if (settled)
    {
        mScansToSettle = 0;
        return false;
    }
    QCL_LOG_DEBUG(
        L"The removals that this snapshot shows wait for the next one: the folder changed during its "
        L"scan, or some of its changes are not known");
    snapshot.noteChangedDuringScan();
    if (mScansToSettle == kMostScansToSettle)
    {
        mScansToSettle = 0;
        return false;
    }
    ++mScansToSettle;
    return true;
}
} // namespace dwl
