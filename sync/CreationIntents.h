#pragma once
// Creations this Device sends to the server, kept from before the request until its answer is recorded in the
// tree. When an answer is lost (a failed request, a stop or a crash in between), the asset that the server
// may have made is recognised by its intent as this Device's own, and never confused with an item of the
// same name that another Device made meanwhile.

#include "qcl/Uint128.h"

#include <compare>
#include <set>
#include <string>

namespace dwl
{
struct CreationIntent
{
    qcl::uint128 shareId;
    qcl::uint128 parentId; // the server folder the item is created in
    std::wstring name;
    bool folder = false;

    friend std::strong_ordering operator<=>(const CreationIntent&, const CreationIntent&) = default;
};

class CreationIntents
{
public:
    virtual void add(const CreationIntent& intent) = 0;
    virtual bool contains(const CreationIntent& intent) = 0;
    virtual void remove(const CreationIntent& intent) = 0;

protected:
    ~CreationIntents() = default;
};

// Kept for the life of the object only: for engines that keep no database.
class MemoryCreationIntents final : public CreationIntents
{
public:
    void add(const CreationIntent& intent) override { mIntents.insert(intent); }
    bool contains(const CreationIntent& intent) override { return mIntents.contains(intent); }
    void remove(const CreationIntent& intent) override { mIntents.erase(intent); }

private:
    std::set<CreationIntent> mIntents;
};
} // namespace dwl
