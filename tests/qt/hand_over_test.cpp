#include "app/qt/HandOver.h"

#include "QtTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <vector>

namespace
{
struct HandOverTest : ::testing::Test
{
    HandOverTest()
    {
        test::qtApplication();
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms(0755));
    }
    ~HandOverTest() override { std::filesystem::remove_all(folder); }

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("hand-over-" + std::to_string(::getpid()));
    const QString socket = QString::fromStdString((folder / "Handover").string());
    int opened = 0;
    dwl::qt::HandOver first{socket, [this] { ++opened; }};
};

TEST_F(HandOverTest, ASecondInstanceOfTheSameUserMakesTheFirstOpenTheFolder)
{
    dwl::qt::HandOver second(socket, [] {});
    EXPECT_FALSE(second.handOver()); // nobody listens yet

    first.listen();
    auto handedOver = std::async(std::launch::async, [&] { return second.handOver(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == 1; }, 10000));
    EXPECT_TRUE(handedOver.get());
}

TEST_F(HandOverTest, ARequestWhoseSenderGaveUpIsNotCarriedOutLater)
{
    first.listen();
    dwl::qt::HandOver second(socket, [] {});
    second.setWaitTime(std::chrono::milliseconds(200));
    // The first instance is busy (this thread does not run its events) until the second has given up.
    EXPECT_FALSE(second.handOver());
    QTest::qWait(500);
    EXPECT_EQ(opened, 0);
}

// A plain client of the socket, which the test drives itself.
int connectTo(const std::string& path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

// Whether the running instance has closed the connection.
bool closedByServer(int fd)
{
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, 0);
    return n == 0 || (n < 0 && errno != EAGAIN);
}

TEST_F(HandOverTest, LongMessagesAndSilentOrSurplusConnectionsAreClosed)
{
    first.listen();
    const std::string path = socket.toStdString();
    const auto closed = [](const std::vector<int>& fds)
    { return std::count_if(fds.begin(), fds.end(), closedByServer); };

    const int talker = connectTo(path);
    const std::string endless(4096, 'x');
    ASSERT_EQ(::send(talker, endless.data(), endless.size(), 0), static_cast<ssize_t>(endless.size()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return closedByServer(talker); }, 5000));

    first.setIdleTime(std::chrono::milliseconds(200));
    const int silent = connectTo(path);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closedByServer(silent); }, 5000));

    first.setIdleTime(std::chrono::minutes(1));
    std::vector<int> many;
    for (int i = 0; i < 10; ++i)
        many.push_back(connectTo(path));
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed(many) >= 6; }, 5000));
    QTest::qWait(200);
    EXPECT_EQ(closed(many), 6);
    for (const int fd : many)
        ::close(fd);

    dwl::qt::HandOver second(socket, [] {});
    auto handedOver = std::async(std::launch::async, [&] { return second.handOver(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == 1; }, 10000));
    EXPECT_TRUE(handedOver.get());
    ::close(silent);
    ::close(talker);
}

TEST_F(HandOverTest, AnotherUserCannotHandOver)
{
    first.listen();
    const std::string path = socket.toStdString(); // the child only makes system calls
    const pid_t child = ::fork();
    if (child == 0)
    {
        // Another user, speaking the protocol on a plain socket: exit 0 only when the request was taken.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        char reply[3] = {};
        const bool taken = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                           ::write(fd, "open-folder\n", 12) == 12 && ::read(fd, reply, 3) == 3;
        ::_exit(taken ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 10000));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    QTest::qWait(200);
    EXPECT_EQ(opened, 0);
}
} // namespace
