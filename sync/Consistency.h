#pragma once
// Before the engine changes, moves or deletes a local item because of server data, it makes sure that the tree
// still describes the disk: the item and every directory above it must carry the local id that the tree holds and
// must not be hidden. When they disagree (the user just renamed, replaced or hid something and the scanner has not
// reported it yet) the operation waits for a later cycle.

#include "sync/Tree.h"

#include <optional>
#include <string>
#include <unordered_map>

namespace dwl
{
// Verified full paths of nodes during one check; the tree root (the Wayfold folder) counts as verified.
using CheckedPaths = std::unordered_map<const Tree::Node*, std::wstring>;

// The full path of the node when the disk matches the tree on the way to it, else empty (with an info line that
// says why). Never throws for a file-system failure.
std::optional<std::wstring> checkIfDatabaseMatchesFileSystem(const Tree::Node& node, CheckedPaths& checked);

// One check with a fresh cache seeded with the root of the node's tree.
std::optional<std::wstring> checkIfDatabaseMatchesFileSystem(const Tree::Node& node);
} // namespace dwl
