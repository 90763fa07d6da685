// A scan's inner loop over a folder of 2000 files: the listing alone (baseline), the listing with each
// entry's file ID read without opening the file (qcl::file::getFileId), and the listing with each
// file opened for reading to ask its ID.
#include "compat/FileNameText.h"
#include "qcl/File.h"
#include "qcl/FileFinder.h"
#include "tests/support/ScratchFolder.h"

#include <benchmark/benchmark.h>

#include <string>

namespace
{
constexpr int fileCount = 2000;

const test::ScratchFolder& folder()
{
    static const test::ScratchFolder scratch;
    static const bool filled = [] {
        for (int i = 0; i < fileCount; ++i)
            scratch.writeFile("file" + std::to_string(i) + ".txt", "content");
        return true;
    }();
    (void)filled;
    return scratch;
}

template <class PerEntry>
void scan(benchmark::State& state, PerEntry perEntry)
{
    const std::wstring directory = compat::fileNameToUtf16(folder().path()) + L"/";
    for (auto _ : state)
    {
        std::uint64_t sum = 0;
        for (qcl::FileFinder finder(directory + L"*"); finder; finder.next())
        {
            const std::wstring name = finder.data().cFileName;
            if (name != L"." && name != L"..")
                sum += perEntry(directory + name);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * fileCount);
}

void listingOnly(benchmark::State& state)
{
    scan(state, [](const std::wstring& path) { return path.size(); });
}

void listingWithFileId(benchmark::State& state)
{
    scan(state, [](const std::wstring& path) { return qcl::file::getFileId(path); });
}

void listingOpeningEachFile(benchmark::State& state)
{
    scan(state, [](const std::wstring& path) {
        const qcl::Handle file = qcl::file::open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        return qcl::File::getFileId(file.get());
    });
}
} // namespace

BENCHMARK(listingOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(listingWithFileId)->Unit(benchmark::kMillisecond);
BENCHMARK(listingOpeningEachFile)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
