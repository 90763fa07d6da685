#include "sync/TreeIndex.h"

namespace dwl
{
std::wstring Tree::formatLocalId(std::uint64_t localId)
{
    std::wstring text(19, L'-');
    std::size_t position = 0;
    for (int digit = 15; digit >= 0; --digit)
    {
        if (position == 4 || position == 9 || position == 14)
            ++position;
        text[position++] = L"0123456789abcdef"[(localId >> (4 * digit)) & 0xF];
    }
    return text;
}

Tree::Node* Tree::findNodeById(Node* node, const qcl::uint128& assetId)
{
    if (!node)
        return nullptr;
    Node* top = node;
    while (top->parent())
        top = top->parent();
    Directory* root = top->asDirectory();
    if (!root)
        return node->assetId() == assetId ? node : nullptr;
    if (!root->mAssetIdIndex)
    {
        auto index = std::make_unique<AssetIdIndex>();
        index->insertSubtree(*root);
        root->mAssetIdIndex = std::move(index);
    }
    return root->mAssetIdIndex->findBelow(*node, assetId);
}

template <class Kind> Kind* Tree::firstChildByName(Directory* directory, const std::wstring& name)
{
    if (!directory)
        return nullptr;
    Kind* first = nullptr;
    auto [begin, end] = directory->mNames.equal_range(name);
    for (auto it = begin; it != end; ++it)
    {
        Kind* child = dynamic_cast<Kind*>(&*it);
        // Equal names are rare; among them the child list decides which comes first.
        if (child && (!first || details::precedesInPreOrder(*child, *first)))
            first = child;
    }
    return first;
}

Tree::File* Tree::findFileByName(Directory* directory, const std::wstring& name)
{
    return firstChildByName<File>(directory, name);
}

Tree::Directory* Tree::findDirectoryByName(Directory* directory, const std::wstring& name)
{
    return firstChildByName<Directory>(directory, name);
}
} // namespace dwl
