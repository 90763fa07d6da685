#pragma once
// A scratch folder for logging tests that also becomes the user's data folder (XDG_DATA_HOME) and
// holds the registry files (QUILLMERE_USER_REGISTRY, QUILLMERE_MACHINE_REGISTRY), so that nothing a
// test configures or logs reaches the real user's files. Paths are UTF-8.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace test
{
class LoggingScratch
{
public:
    LoggingScratch()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/scriblet-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("Cannot create a scratch folder");
        mRoot = pattern;
        ::setenv("XDG_DATA_HOME", (mRoot + "/data").c_str(), 1);
        ::setenv("QUILLMERE_USER_REGISTRY", (mRoot + "/user.ini").c_str(), 1);
        ::setenv("QUILLMERE_MACHINE_REGISTRY", (mRoot + "/machine.ini").c_str(), 1);
    }
    ~LoggingScratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(mRoot, ignored);
    }
    LoggingScratch(const LoggingScratch&) = delete;
    LoggingScratch& operator=(const LoggingScratch&) = delete;

    const std::string& root() const { return mRoot; }
    std::string path(const std::string& relative) const { return mRoot + "/" + relative; }
    // The application-data folder of the library: $XDG_DATA_HOME/quillmere.
    std::string applicationData() const { return mRoot + "/data/quillmere"; }

    void write(const std::string& relative, const std::string& text) const
    {
        auto file = std::filesystem::path(path(relative));
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }
    void setUserRegistry(const std::string& text) const { write("user.ini", text); }
    void setMachineRegistry(const std::string& text) const { write("machine.ini", text); }

private:
    std::string mRoot;
};

inline std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}
} // namespace test
