#pragma once
// A fresh folder under the temporary-files directory for one test, removed with everything in it at the end.
// Paths here are native (UTF-8 bytes), for building fixtures with plain POSIX calls.

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace test
{
class ScratchFolder
{
public:
    ScratchFolder()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/wayfold-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("Cannot create a scratch folder");
        mPath = pattern;
    }
    ~ScratchFolder()
    {
        for (auto it = mMounts.rbegin(); it != mMounts.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& relative) const { return mPath + "/" + relative; }

    std::string makeDirectory(const std::string& relative) const
    {
        const std::string full = *this / relative;
        std::filesystem::create_directories(full);
        return full;
    }

    std::string writeFile(const std::string& relative, const std::string& content = "x") const
    {
        const std::string full = *this / relative;
        const int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            throw std::runtime_error("Cannot create " + full);
        const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        ::close(fd);
        if (!written)
            throw std::runtime_error("Cannot write " + full);
        return full;
    }

    // Mounts a small tmpfs at the relative folder (created when missing). False when this process may not mount
    // (not root, or no mount namespace rights); tests then skip what needs another file system.
    bool mountTmpfs(const std::string& relative, const std::string& size = "16m")
    {
        const std::string full = makeDirectory(relative);
        if (::mount("wayfold-test", full.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            return false;
        mMounts.push_back(full);
        return true;
    }

    // Makes the relative folder `source` visible at the relative folder `target` too (a bind mount); false when this
    // process may not mount.
    bool bindMount(const std::string& source, const std::string& target)
    {
        const std::string full = makeDirectory(target);
        if (::mount((*this / source).c_str(), full.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return false;
        mMounts.push_back(full);
        return true;
    }

private:
    std::string mPath;
    std::vector<std::string> mMounts;
};
} // namespace test
