// Putting a finished download in place of a document's file (LocalFolder::replace), which takes a write lease on
// the file first so that a file another program holds open is never replaced, and which the engine checks before
// it fetches the content (LocalFolder::checkReplaceable), against the floor: the same download swapped in with one
// exchange of names, the file it displaced removed and the folder synced, with no check and no lease. Both make
// and write the download the same way in each iteration.
//
// What the lease costs in system calls: bench/count-syscalls runs one case under strace and prints the calls an
// iteration makes; run it on this program built from a commit before the lease and after it.

#include "compat/FileNameText.h"
#include "compat/FolderAt.h"
#include "qcl/File.h"
#include "sync/LocalFolder.h"
#include "tests/support/ScratchFolder.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace
{
using dwl::Tree;

constexpr int kIterations = 2000;
const std::string kContent(1000, 's');

struct Document
{
    Document()
    {
        scratch.makeDirectory("root/share");
        scratch.writeFile("root/share/doc.txt", kContent);
        const std::wstring root = compat::fileNameToUtf16(scratch / "root");
        tree = std::make_unique<Tree::Directory>(0, root);
        share = &tree->addChild(std::make_unique<Tree::Directory>(qcl::file::getFileId(root + L"/share"), L"share"));
        const auto facts = dwl::commandprocessor::readFileFacts(root + L"/share/doc.txt");
        file = &share->addChild(std::make_unique<Tree::File>(facts.localId, L"doc.txt", facts.size,
                                                              facts.lastModificationTime, facts.changeTime));
        folder.open(*tree, dwl::PinnedFolder::of(root));
    }

    dwl::LocalFolder::Download download()
    {
        auto made = folder.createDownload(*share, L".wayfold-bench.download", L"doc.txt", {});
        DWORD written = 0;
        WriteFile(made.handle(), kContent.data(), static_cast<DWORD>(kContent.size()), &written, nullptr);
        made.written();
        made.finish();
        return made;
    }

    test::ScratchFolder scratch;
    std::unique_ptr<Tree::Directory> tree;
    Tree::Directory* share = nullptr;
    Tree::File* file = nullptr;
    dwl::LocalFolder folder;
};

void BM_ReplaceDocument(benchmark::State& state)
{
    Document document;
    for (auto _ : state)
    {
        auto download = document.download();
        document.folder.checkReplaceable(download, *document.file);
        if (!document.folder.replace(download, *document.file))
            state.SkipWithError("not replaced");
        const auto& facts = download.facts();
        document.file->setLocalId(facts.localId);
        document.file->setContent(facts.size, facts.lastModificationTime, facts.changeTime, 1);
    }
}
BENCHMARK(BM_ReplaceDocument)->Iterations(kIterations);

void BM_ReplaceDocument_floor(benchmark::State& state)
{
    Document document;
    compat::at::Descriptor share;
    compat::at::openFolder(document.scratch / "root/share", share);
    for (auto _ : state)
    {
        auto download = document.download();
        compat::at::exchangeAt(share.get(), ".wayfold-bench.download", "doc.txt");
        compat::at::removeFileAt(share.get(), ".wayfold-bench.download");
        compat::at::syncFolder(share.get());
    }
}
BENCHMARK(BM_ReplaceDocument_floor)->Iterations(kIterations);
} // namespace

BENCHMARK_MAIN();
