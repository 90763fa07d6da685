#include "support/LogCapture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace test
{
namespace
{
namespace fs = std::filesystem;

// The templates are shipped from data/ at the top of the source tree. The source folder comes from the build,
// as
// __FILE__ may be relative to wherever the compiler ran (a compiler cache rewrites it so).
fs::path shippedTemplate(const std::string& program)
{
    return fs::path(WAYFOLD_SOURCE_DIR) / "data" / ("scriblet." + program + ".cfg");
}

std::string readText(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("Cannot read " + path.string());
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file)
        throw std::runtime_error("Cannot write " + path.string());
}

bool startsWith(const std::string& line, const std::string& prefix)
{
    return line.compare(0, prefix.size(), prefix) == 0;
}

bool isProperty(const std::string& line, const std::string& suffix)
{
    const auto equals = line.find('=');
    return startsWith(line, "log4cplus.") && equals != std::string::npos && equals >= suffix.size() &&
           line.compare(equals - suffix.size(), suffix.size(), suffix) == 0;
}

struct AdaptedTemplate
{
    std::string text;
    std::string logFile; // as the template names it, with %LOG_PROFILE% unexpanded
};

// The root logger's level is replaced; rolling files are made large enough never to roll during a test, since
// a rolled file would renumber the lines a test has marked.
AdaptedTemplate adapt(const std::string& original, const std::string& level)
{
    AdaptedTemplate adapted;
    std::istringstream in(original);
    for (std::string line; std::getline(in, line);)
    {
        if (startsWith(line, "log4cplus.rootLogger="))
        {
            const auto comma = line.find(',');
            line = "log4cplus.rootLogger=" + level + (comma == std::string::npos ? "" : line.substr(comma));
        }
        else if (isProperty(line, ".MaxFileSize"))
            line = line.substr(0, line.find('=') + 1) + "1000MB";
        else if (isProperty(line, ".File") && adapted.logFile.empty())
            adapted.logFile = line.substr(line.find('=') + 1);
        adapted.text += line + "\n";
    }
    if (adapted.logFile.empty())
        throw std::runtime_error("The logging template names no log file");
    return adapted;
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}
} // namespace

LogCapture::LogCapture(const std::string& level, const std::string& program)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/log-capture-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("Cannot create a folder for the log");
    mRoot = pattern;

    const AdaptedTemplate adapted = adapt(readText(shippedTemplate(program)), level);
    writeText(fs::path(mRoot) / "templates" / ("scriblet." + program + ".cfg"), adapted.text);
    writeText(fs::path(mRoot) / "user.ini",
              "[SOFTWARE\\Quillmere\\Logging\\" + program + "]\nCfgSourceDir=" + mRoot + "/templates\n");
    // The user's data folder holds the generated configuration and the log; the machine registry file stays
    // absent so that nothing configured on this machine takes part.
    ::setenv("XDG_DATA_HOME", (mRoot + "/data").c_str(), 1);
    ::setenv("QUILLMERE_USER_REGISTRY", (mRoot + "/user.ini").c_str(), 1);
    ::setenv("QUILLMERE_MACHINE_REGISTRY", (mRoot + "/machine.ini").c_str(), 1);
    mLogFile = replaced(adapted.logFile, "%LOG_PROFILE%", mRoot + "/data/quillmere/Logging");
}

LogCapture::~LogCapture()
{
    std::error_code ignored;
    fs::remove_all(mRoot, ignored);
}

void LogCapture::readNewText()
{
    std::ifstream file(mLogFile, std::ios::binary);
    if (!file)
        return;
    file.seekg(static_cast<std::streamoff>(mReadBytes));
    std::ostringstream text;
    text << file.rdbuf();
    const std::string added = text.str();
    mReadBytes += added.size();
    mPartialLine += added;
    std::size_t start = 0;
    for (auto end = mPartialLine.find('\n'); end != std::string::npos; end = mPartialLine.find('\n', start))
    {
        mLines.push_back(mPartialLine.substr(start, end - start));
        start = end + 1;
    }
    mPartialLine.erase(0, start);
}

const std::vector<std::string>& LogCapture::lines()
{
    readNewText();
    return mLines;
}

std::optional<std::size_t> LogCapture::find(const std::string& text, std::size_t from)
{
    const std::vector<std::string>& all = lines();
    for (std::size_t i = from; i < all.size(); ++i)
    {
        if (all[i].find(text) != std::string::npos)
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> LogCapture::waitFor(const std::string& text, std::size_t from,
                                               std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        if (const auto found = find(text, from))
            return found;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        // The log is a plain file: there is nothing to wait on but its growth.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Lines before `from` and those already searched need no second look.
        from = std::max(from, mLines.size());
    }
}

std::size_t LogCapture::count(const std::string& text, std::size_t from, std::size_t to)
{
    const std::vector<std::string>& all = lines();
    std::size_t found = 0;
    for (std::size_t i = from; i < std::min(to, all.size()); ++i)
        found += all[i].find(text) != std::string::npos ? 1 : 0;
    return found;
}
} // namespace test
