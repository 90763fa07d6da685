// The user's bookmarks file as the program rewrites it: the user's lines all stay, in order, the program has
// at most one line, and a second rewrite changes nothing.
#include "compat/FolderBookmarks.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
const std::string kAddress = "file:///home/u/Wayfold";
const std::string kLabel = "Wayfold";

void check(bool condition)
{
    if (!condition)
        std::abort();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    for (std::size_t start = 0; start < text.size();)
    {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

bool isProgramsLine(const std::string& line)
{
    const std::size_t space = line.find(' ');
    return space != std::string::npos && line.compare(space + 1, std::string::npos, kLabel) == 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string rewritten = compat::withFolderBookmark(text, kAddress, kLabel);
    check(compat::withFolderBookmark(rewritten, kAddress, kLabel) == rewritten);

    std::vector<std::string> users;
    for (const std::string& line : lines(text))
        if (!isProgramsLine(line))
            users.push_back(line);
    std::vector<std::string> kept;
    int programs = 0;
    for (const std::string& line : lines(rewritten))
    {
        if (isProgramsLine(line))
        {
            check(line == kAddress + " " + kLabel);
            ++programs;
        }
        else
            kept.push_back(line);
    }
    check(kept == users);
    check(programs <= 1);
    return 0;
}
