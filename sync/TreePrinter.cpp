#include "sync/Tree.h"

namespace dwl
{
namespace
{
class PrettyPrintVisitor
{
public:
    PrettyPrintVisitor(std::wostream& stream, std::wstring prefix) : mStream(stream), mPrefix(std::move(prefix)) {}

    void print(const Tree::Node& node)
    {
        if (const Tree::Directory* directory = node.asDirectory())
            print(*directory);
        else
            print(*node.asFile());
    }

    void print(const Tree::Directory& directory)
    {
        mStream << L"* '" << directory.name() << L"', Local ID = " << Tree::formatLocalId(directory.localId())
                << L'\n';
        const auto& children = directory.children();
        for (auto it = children.begin(); it != children.end(); ++it)
        {
            const bool last = std::next(it) == children.end();
            mStream << mPrefix << (last ? L"+--" : L"|--");
            PrettyPrintVisitor(mStream, mPrefix + (last ? L"  " : L"|  ")).print(*it);
        }
    }

private:
    void print(const Tree::File& file)
    {
        mStream << L"  '" << file.name() << L"', Local ID = " << Tree::formatLocalId(file.localId())
                << L", size = " << file.size() << L'\n';
    }

    std::wostream& mStream;
    std::wstring mPrefix;
};
} // namespace

std::wostream& Tree::printTree(std::wostream& stream, const Directory& directory)
{
    PrettyPrintVisitor(stream, std::wstring()).print(directory);
    return stream;
}

std::wostream& operator<<(std::wostream& stream, const Tree::Directory& directory)
{
    return Tree::printTree(stream, directory);
}
} // namespace dwl
