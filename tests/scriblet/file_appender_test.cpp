// The library's file appenders: folders made on demand, UTF-8 files, size and date rollover that copy
// the live file and empty it in place, MaxBackupIndex 0, and a failed copy that loses nothing.
#include "scriblet/FileAppenders.h"
#include "tests/scriblet/LoggingScratch.h"

#include <log4cplus/helpers/property.h>
#include <log4cplus/helpers/timehelper.h>
#include <log4cplus/spi/loggingevent.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <thread>

namespace
{
namespace fs = std::filesystem;

test::LoggingScratch scratch;

log4cplus::helpers::Properties appenderProperties(const std::string& file,
                                                  std::initializer_list<std::pair<const char*, const char*>> more)
{
    log4cplus::helpers::Properties properties;
    properties.setProperty("File", file);
    properties.setProperty("layout", "log4cplus::PatternLayout");
    properties.setProperty("layout.ConversionPattern", "%m%n");
    for (auto [key, value] : more)
        properties.setProperty(key, value);
    return properties;
}

log4cplus::spi::InternalLoggingEvent eventAt(const std::string& text, log4cplus::helpers::Time time)
{
    return log4cplus::spi::InternalLoggingEvent("test", log4cplus::INFO_LOG_LEVEL, "", {}, text, "", "", time, "", -1);
}

void write(log4cplus::Appender& appender, const std::string& text)
{
    appender.doAppend(eventAt(text, log4cplus::helpers::now()));
}

// Line `number` padded to 100 bytes with its newline, so that sizes are easy to reason about.
std::string numberedLine(int number)
{
    std::string text = "line " + std::to_string(number) + " ";
    return text + std::string(99 - text.size(), 'x');
}

int numberOf(const std::string& line)
{
    return std::stoi(line.substr(5));
}

// Every line of `files` (oldest first) in order, checking that they hold no NUL byte.
std::vector<int> numbersIn(const std::vector<std::string>& files)
{
    std::vector<int> numbers;
    for (const auto& file : files)
    {
        std::string text = test::readFile(file);
        EXPECT_EQ(text.find('\0'), std::string::npos) << file;
        for (const auto& line : test::readLines(file))
            numbers.push_back(numberOf(line));
    }
    return numbers;
}

std::string dateOf(log4cplus::helpers::Time time)
{
    std::time_t seconds = log4cplus::helpers::to_time_t(time);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}
} // namespace

TEST(FileAppender, MakesMissingFoldersAndWritesUtf8WithoutByteOrderMark)
{
    const std::string file = scratch.path("made/on/demand/app.log");
    {
        scriblet::FileAppender appender(appenderProperties(file, {}));
        write(appender, "Stra\xC3\x9F" "e \xE2\x82\xAC");
    }
    EXPECT_EQ(test::readFile(file), "Stra\xC3\x9F" "e \xE2\x82\xAC\n");
}

TEST(RollingFileAppender, RollsOverBySizeAndKeepsTheConfiguredBackups)
{
    const std::string file = scratch.path("size/app.log");
    {
        scriblet::RollingFileAppender appender(
            appenderProperties(file, {{"MaxFileSize", "200KB"}, {"MaxBackupIndex", "2"}}));
        for (int i = 0; i < 7000; ++i)
            write(appender, numberedLine(i));
    }
    EXPECT_TRUE(fs::exists(file + ".1"));
    EXPECT_TRUE(fs::exists(file + ".2"));
    EXPECT_FALSE(fs::exists(file + ".3"));
    for (const auto& backup : {file + ".1", file + ".2"})
        EXPECT_LE(fs::file_size(backup), 200u * 1024 + 100) << backup;

    // The files hold the newest lines without a gap, oldest in ".2".
    auto numbers = numbersIn({file + ".2", file + ".1", file});
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.back(), 6999);
    for (std::size_t i = 1; i < numbers.size(); ++i)
        ASSERT_EQ(numbers[i], numbers[i - 1] + 1) << "at " << i;
    EXPECT_GT(numbers.size(), 4000u);
}

TEST(RollingFileAppender, BackupIndexZeroEmptiesTheFileWithoutBackup)
{
    const std::string file = scratch.path("zero/app.log");
    {
        scriblet::RollingFileAppender appender(
            appenderProperties(file, {{"MaxFileSize", "200KB"}, {"MaxBackupIndex", "0"}}));
        for (int i = 0; i < 3000; ++i)
            write(appender, numberedLine(i));
    }
    EXPECT_FALSE(fs::exists(file + ".1"));
    auto numbers = numbersIn({file});
    ASSERT_FALSE(numbers.empty());
    EXPECT_LT(numbers.size(), 2100u);
    EXPECT_EQ(numbers.back(), 2999);
}

TEST(RollingFileAppender, TwoWritersOfOneFileLeaveNoHolesAndLoseNoLine)
{
    const std::string file = scratch.path("shared/app.log");
    {
        auto properties = appenderProperties(file, {{"MaxFileSize", "200KB"}, {"MaxBackupIndex", "20"}});
        scriblet::RollingFileAppender first(properties);
        scriblet::RollingFileAppender second(properties);
        for (int i = 0; i < 6000; i += 2)
        {
            write(first, numberedLine(i));
            write(second, numberedLine(i + 1));
        }
    }
    std::vector<std::string> files;
    for (int index = 20; index >= 1; --index)
        if (fs::exists(file + "." + std::to_string(index)))
            files.push_back(file + "." + std::to_string(index));
    files.push_back(file);
    EXPECT_GE(files.size(), 3u);
    auto numbers = numbersIn(files);
    std::sort(numbers.begin(), numbers.end());
    ASSERT_EQ(numbers.size(), 6000u);
    for (int i = 0; i < 6000; ++i)
        ASSERT_EQ(numbers[i], i);
}

// Programs started together share their log file: two processes with two threads each write one file with a
// small maximum size. Every line ends up exactly once, whole, in the live file or a private backup.
TEST(RollingFileAppender, ProcessesSharingTheFileLoseDoubleAndTearNoLine)
{
    const std::string file = scratch.path("processes/app.log");
    constexpr int processes = 2;
    constexpr int threads = 2;
    constexpr int linesPerThread = 750;
    auto lineOf = [](int process, int thread, int number) {
        std::string text =
            "p" + std::to_string(process) + " t" + std::to_string(thread) + " n" + std::to_string(number) + " ";
        return text + std::string(999 - text.size(), 'x');
    };
    std::vector<pid_t> children;
    for (int process = 0; process < processes; ++process)
    {
        const pid_t child = ::fork();
        if (child == 0)
        {
            scriblet::RollingFileAppender appender(
                appenderProperties(file, {{"MaxFileSize", "200KB"}, {"MaxBackupIndex", "40"}}));
            std::vector<std::thread> writers;
            for (int thread = 0; thread < threads; ++thread)
                writers.emplace_back([&, thread] {
                    for (int number = 0; number < linesPerThread; ++number)
                        write(appender, lineOf(process, thread, number));
                });
            for (auto& writer : writers)
                writer.join();
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children)
    {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::map<std::string, int> seen;
    std::size_t backups = 0;
    for (int index = 0; index <= 40; ++index)
    {
        const std::string name = index == 0 ? file : file + "." + std::to_string(index);
        if (!fs::exists(name))
            continue;
        backups += index > 0;
        EXPECT_EQ(fs::status(name).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write)
            << name << " is not private";
        for (const auto& line : test::readLines(name))
            ++seen[line];
    }
    EXPECT_GE(backups, 10u);
    EXPECT_EQ(seen.size(), std::size_t{processes * threads * linesPerThread}) << "lines lost or torn";
    for (int process = 0; process < processes; ++process)
        for (int thread = 0; thread < threads; ++thread)
            for (int number = 0; number < linesPerThread; ++number)
            {
                const std::string line = lineOf(process, thread, number);
                ASSERT_EQ(seen[line], 1) << line.substr(0, 16);
            }
}

TEST(RollingFileAppender, FailedCopyKeepsTheLiveFile)
{
    const std::string file = scratch.path("nocopy/app.log");
    // A backup name taken by a folder with content: the copy cannot be made.
    scratch.write("nocopy/app.log.1/keep", "x");
    {
        scriblet::RollingFileAppender appender(
            appenderProperties(file, {{"MaxFileSize", "200KB"}, {"MaxBackupIndex", "1"}}));
        for (int i = 0; i < 3000; ++i)
            write(appender, numberedLine(i));
    }
    auto numbers = numbersIn({file});
    ASSERT_EQ(numbers.size(), 3000u);
    EXPECT_EQ(numbers.front(), 0);
    EXPECT_EQ(numbers.back(), 2999);
}

TEST(DailyRollingFileAppender, RollsOverWhenTheEventsDayChanges)
{
    const std::string file = scratch.path("daily/app.log");
    const auto now = log4cplus::helpers::now();
    const auto tomorrow = now + std::chrono::hours(25);
    const auto dayAfter = now + std::chrono::hours(50);
    {
        scriblet::DailyRollingFileAppender appender(
            appenderProperties(file, {{"Schedule", "DAILY"}, {"MaxBackupIndex", "3"}, {"RollOnClose", "false"}}));
        appender.doAppend(eventAt("first", now));
        appender.doAppend(eventAt("second", tomorrow));
        appender.doAppend(eventAt("third", dayAfter));
    }
    EXPECT_EQ(test::readFile(file + "." + dateOf(now)), "first\n");
    EXPECT_EQ(test::readFile(file + "." + dateOf(tomorrow)), "second\n");
    EXPECT_EQ(test::readFile(file), "third\n");
}

TEST(DailyRollingFileAppender, RollingOverAPeriodAgainShiftsItsEarlierFile)
{
    const std::string file = scratch.path("again/app.log");
    auto properties = appenderProperties(file, {{"Schedule", "DAILY"}, {"MaxBackupIndex", "3"}, {"RollOnClose", "true"}});
    for (const char* text : {"morning", "noon", "evening"})
    {
        scriblet::DailyRollingFileAppender appender(properties);
        write(appender, text);
        appender.close();
    }
    const std::string today = file + "." + dateOf(log4cplus::helpers::now());
    EXPECT_EQ(test::readFile(today), "evening\n");
    EXPECT_EQ(test::readFile(today + ".1"), "noon\n");
    EXPECT_EQ(test::readFile(today + ".2"), "morning\n");
    EXPECT_EQ(test::readFile(file), "");
}
