// The memory that reading one listing of a folder's children takes at its peak, for a text just under the
// answer size cap (120 MiB by default, or the MiB given as the argument): hostile ones (small arrays; items
// with nothing but an id; one item holding small arrays) and a legitimate one of document records. Each case
// runs in a child process of its own; its peak resident size includes the text itself, which any reader must
// hold.
#include "Ids.h"
#include "api/AnswerReaders.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{
std::string smallArrays(std::size_t size)
{
    std::string text = "[";
    text.reserve(size + 2);
    while (text.size() < size)
        text += "[],";
    text += "]";
    return text;
}

std::string bareIds(std::size_t size)
{
    std::string text = "[";
    text.reserve(size + 64);
    for (unsigned i = 0; text.size() < size; ++i)
        text += R"({"uuid":")" + bench::hexId(i) + R"("},)";
    text.back() = ']';
    return text;
}

std::string oneItem(std::size_t size)
{
    std::string text = R"([{"uuid":")" + bench::hexId(1) + R"(","name":[)";
    text.reserve(size + 8);
    while (text.size() < size)
        text += "[],";
    text += "]}]";
    return text;
}

// Records as a folder listing has them: id, type, name and extension, version, status and parent.
std::string documents(std::size_t size)
{
    std::string text = "[";
    text.reserve(size + 512);
    const std::string parent = bench::hexId(7);
    for (unsigned i = 0; text.size() < size; ++i)
        text += R"({"uuid":")" + bench::hexId(i) + R"(","type":"DOCUMENT","name":"report )" + std::to_string(i) +
                R"(","extension":"docx","contentVersion":)" + std::to_string(i % 17 + 1) +
                R"(,"status":"COMPLETE","parent":{"uuid":")" + parent + R"("}},)";
    text.back() = ']';
    return text;
}

void run(const char* name, std::string (*make)(std::size_t), std::size_t size)
{
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0)
    {
        const std::string text = make(size);
        try
        {
            const auto children = dwl::answer::children(text, qcl::uint128::fromHalves(0, 1));
            std::printf("%-13s %6.1f MiB of text: read, %zu items", name, text.size() / 1048576.0, children.size());
        }
        catch (const std::exception& error)
        {
            std::printf("%-13s %6.1f MiB of text: refused (%s)", name, text.size() / 1048576.0, error.what());
        }
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    std::printf("; peak %.0f MiB\n", usage.ru_maxrss / 1024.0);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    const std::size_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 120) << 20;
    run("small arrays", smallArrays, size);
    run("bare ids", bareIds, size);
    run("one item", oneItem, size);
    run("documents", documents, size);
    return 0;
}
