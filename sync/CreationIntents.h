#pragma once
// Items this Device makes, kept from before the request or the local change until the tree records them.
// When that is cut short (a failed request, a stop or a crash in between), the server asset is recognised by
// its intent as this Device's own, and never confused with an item of the same name that another Device made
// meanwhile:
// - a creation sent to the server (no asset id): the local name it was sent with;
// - an item put in place for a server asset (a download, a folder): the server's name and the asset's id;
// - a download, new or in place of a document's file: also the version it brings and the local id, size and
//   time of the file it was written to, noted before that file becomes visible, so that a file of this id
//   is known to be this Device's own until the tree records it.
// Shares are items of the Wayfold folder: their intents carry a nil Share and parent.

#include "qcl/Uint128.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace dwl
{
struct CreationIntent
{
    qcl::uint128 shareId;
    qcl::uint128 parentId; // the server folder that holds the item
    std::wstring name;
    bool folder = false;
    qcl::uint128 assetId; // nil for a creation sent to the server
    // Downloads only; 0 otherwise.
    std::uint64_t versionNumber = 0;
    std::uint64_t localId = 0;
    std::uint64_t size = 0;
    std::uint64_t lastModificationTime = 0;

    bool isDownload() const { return localId != 0; }

    // Intents of one item, whatever their asset id.
    bool sameItem(const CreationIntent& other) const
    {
        return shareId == other.shareId && parentId == other.parentId && name == other.name &&
               folder == other.folder;
    }
};

class CreationIntents
{
public:
    // Replaces an intent of the same item.
    virtual void add(const CreationIntent& intent) = 0;
    virtual void remove(const CreationIntent& intent) = 0;
    // Removes the intent and runs `record`, the tree change that records the item, as one step where the
    // tree is stored: when `record` throws, the intent stays.
    virtual void endWhenRecorded(const CreationIntent& intent, const std::function<void()>& record) = 0;
    virtual std::vector<CreationIntent> inFolder(const qcl::uint128& shareId,
                                                 const qcl::uint128& parentId) = 0;
    virtual std::vector<CreationIntent> downloads() = 0;

protected:
    ~CreationIntents() = default;
};

// Kept for the life of the object only: for engines that keep no database.
class MemoryCreationIntents final : public CreationIntents
{
public:
    void add(const CreationIntent& intent) override
    {
        remove(intent);
        mIntents.push_back(intent);
    }
    void remove(const CreationIntent& intent) override
    {
        std::erase_if(mIntents, [&](const CreationIntent& kept) { return kept.sameItem(intent); });
    }
    void endWhenRecorded(const CreationIntent& intent, const std::function<void()>& record) override
    {
        record();
        remove(intent);
    }
    std::vector<CreationIntent> inFolder(const qcl::uint128& shareId, const qcl::uint128& parentId) override
    {
        std::vector<CreationIntent> found;
        std::copy_if(mIntents.begin(), mIntents.end(), std::back_inserter(found),
                     [&](const CreationIntent& kept)
                     { return kept.shareId == shareId && kept.parentId == parentId; });
        return found;
    }
    std::vector<CreationIntent> downloads() override
    {
        std::vector<CreationIntent> found;
        std::copy_if(mIntents.begin(), mIntents.end(), std::back_inserter(found),
                     [](const CreationIntent& kept) { return kept.isDownload(); });
        return found;
    }

private:
    std::vector<CreationIntent> mIntents;
};
} // namespace dwl
