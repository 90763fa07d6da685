#include "app/InstanceLock.h"

#include "compat/FileApi.h"
#include "qcl/Error.h"
#include "qcl/String.h"

#include "../support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
std::string contentOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string ownLine()
{
    return "ProcessId: " + std::to_string(::getpid()) + "\r\n";
}

enum ChildResult
{
    Locked = 10,
    Refused = 11,
    Failed = 12,
};

// What another process gets when it tries to take the lock.
int lockInChild(const std::wstring& path)
{
    const pid_t child = ::fork();
    if (child == 0)
    {
        int result = Failed;
        try
        {
            dwl::InstanceLock lock;
            lock.lock(path);
            result = Locked;
        }
        catch (const dwl::OtherInstanceAlreadyRunning&)
        {
            result = Refused;
        }
        catch (...)
        {
        }
        ::_exit(result);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The descriptor flags of every descriptor this process has open on `path`.
std::vector<int> descriptorFlagsOf(const std::filesystem::path& path)
{
    std::vector<int> flags;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path)
            flags.push_back(::fcntl(std::stoi(entry.path().filename().string()), F_GETFD));
    }
    return flags;
}

class InstanceLockTest : public testing::Test
{
protected:
    test::ScratchFolder mFolder;
    std::string mPath = mFolder / "Lock";
    std::wstring mWidePath = qcl::string::utf8ToUtf16(mPath);
};
} // namespace

TEST_F(InstanceLockTest, HolderWritesItsProcessIdAndKeepsOthersOut)
{
    dwl::InstanceLock holder;
    holder.lock(mWidePath);
    EXPECT_TRUE(holder.isHeld());
    EXPECT_EQ(contentOf(mPath), ownLine());
    struct stat status = {};
    ASSERT_EQ(::stat(mPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    EXPECT_EQ(descriptorFlagsOf(std::filesystem::canonical(mPath)), std::vector<int>{FD_CLOEXEC})
        << "the lock is inherited by child programs";

    dwl::InstanceLock second;
    EXPECT_THROW(second.lock(mWidePath), dwl::OtherInstanceAlreadyRunning);
    EXPECT_FALSE(second.isHeld());
    EXPECT_EQ(lockInChild(mWidePath), Refused);
    EXPECT_EQ(contentOf(mPath), ownLine());

    // Others may read the file while it is held, but not write it.
    const HANDLE reader = CreateFileW(mWidePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    EXPECT_EQ(CreateFileW(mWidePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);

    holder.lock(mWidePath); // held already: nothing changes
    EXPECT_EQ(contentOf(mPath), ownLine());
}

TEST_F(InstanceLockTest, LockIsReleasedWithItsHolder)
{
    {
        dwl::InstanceLock holder;
        holder.lock(mWidePath);
    }
    EXPECT_EQ(lockInChild(mWidePath), Locked);
    dwl::InstanceLock next;
    EXPECT_NO_THROW(next.lock(mWidePath));
}

TEST_F(InstanceLockTest, StaleFileWithoutHolderIsTakenOver)
{
    mFolder.writeFile("Lock", "ProcessId: 4294967295\r\nleft over by an instance that crashed\r\n");
    dwl::InstanceLock holder;
    holder.lock(mWidePath);
    EXPECT_EQ(contentOf(mPath), ownLine());
}

TEST_F(InstanceLockTest, OtherFailuresNameTheFile)
{
    dwl::InstanceLock holder;
    const std::wstring missing = qcl::string::utf8ToUtf16(mFolder / "missing/Lock");
    try
    {
        holder.lock(missing);
        FAIL() << "no error";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.message().rfind(L"Cannot lock file '" + missing + L"': ", 0), 0u);
        EXPECT_EQ(error.code().value(), 3);
    }
}
