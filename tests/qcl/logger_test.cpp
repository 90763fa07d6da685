// The logger front end over the logging library: levels cached once at creation, the log-line
// convention, and lines of several threads in the configured file.
#include "qcl/Log.h"
#include "tests/scriblet/LoggingScratch.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

namespace
{
// Made before any test logs: the logger reads its configuration once, on the first log statement.
struct Configured
{
    test::LoggingScratch scratch;
    Configured()
    {
        scratch.write("templates/scriblet.Wayfold.cfg",
                      "log4cplus.rootLogger=WARN, File\n"
                      "log4cplus.appender.File=log4cplus::RollingFileAppender\n"
                      "log4cplus.appender.File.File=%LOG_PROFILE%/front.log\n"
                      "log4cplus.appender.File.layout=log4cplus::PatternLayout\n"
                      "log4cplus.appender.File.layout.ConversionPattern=%-5p %m [%b:%L]%n\n");
        scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\Wayfold]\nCfgSourceDir=" + scratch.path("templates") + "\n");
    }
    std::vector<std::string> lines() const { return test::readLines(scratch.applicationData() + "/Logging/front.log"); }
} configured;

// The line without its " [logger_test:<line>]" ending, which must be there.
std::string withoutLocation(const std::string& line)
{
    static const std::regex location(R"( \[logger_test:\d+\]$)");
    EXPECT_TRUE(std::regex_search(line, location)) << line;
    return std::regex_replace(line, location, "");
}

int evaluations = 0;

int evaluated()
{
    return ++evaluations;
}
} // namespace

namespace probe
{
void logAtEveryLevel()
{
    QCL_LOG_TRACE(L"trace " << evaluated());
    QCL_LOG_DEBUG(L"debug " << evaluated());
    QCL_LOG_INFO(L"info " << evaluated());
    QCL_LOG_WARN(L"warn " << evaluated());
    QCL_LOG_ERROR(L"error " << evaluated());
    QCL_LOG_FATAL(L"fatal " << evaluated());
}

void logOutsideText()
{
    QCL_LOG_WARN(L"!!! Cannot open " << qcl::string::escaped(std::wstring(L"Stra\u00DFe.txt"), L'\'') << L" in "
                                     << std::string("Z\xC3\xBCrich"));
}
} // namespace probe

TEST(Logger, DisabledLevelsNeverBuildTheirLine)
{
    const auto& logger = qcl::logging::Logger::instance();
    EXPECT_FALSE(logger.isEnabled(qcl::logging::Trace));
    EXPECT_FALSE(logger.isEnabled(qcl::logging::Info));
    EXPECT_TRUE(logger.isEnabled(qcl::logging::Warn));
    EXPECT_TRUE(logger.isEnabled(qcl::logging::Fatal));
    EXPECT_FALSE(logger.isEnabled(-1));
    EXPECT_FALSE(logger.isEnabled(60000));
    EXPECT_EQ(logger.subsystem(), L"Wayfold");

    const auto before = configured.lines().size();
    evaluations = 0;
    probe::logAtEveryLevel();
    EXPECT_EQ(evaluations, 3);
    auto lines = configured.lines();
    ASSERT_EQ(lines.size(), before + 3);
    EXPECT_EQ(withoutLocation(lines[before]), "WARN  probe::logAtEveryLevel\twarn 1");
    EXPECT_EQ(withoutLocation(lines[before + 1]), "ERROR probe::logAtEveryLevel\terror 2");
    EXPECT_EQ(withoutLocation(lines[before + 2]), "FATAL probe::logAtEveryLevel\tfatal 3");
}

TEST(Logger, OutsideTextIsWrittenEscaped)
{
    probe::logOutsideText();
    EXPECT_EQ(withoutLocation(configured.lines().back()),
              "WARN  probe::logOutsideText\t!!! Cannot open 'Stra[U+DF]e.txt' in Z\xC3\xBCrich");
}

TEST(Logger, LinesOfSeveralThreadsAllReachTheFile)
{
    constexpr int threads = 6;
    constexpr int perThread = 300;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                QCL_LOG_WARN(L"thread " << t << L" line " << i << L" \u00E9\xD83D\xDE00");
        });
    for (auto& worker : workers)
        worker.join();

    const std::regex layout(R"(WARN  .*\tthread (\d+) line (\d+) \xC3\xA9\xF0\x9F\x98\x80 \[logger_test:\d+\])");
    std::set<std::pair<int, int>> seen;
    for (const auto& line : configured.lines())
    {
        std::smatch match;
        if (std::regex_match(line, match, layout))
            seen.emplace(std::stoi(match[1]), std::stoi(match[2]));
    }
    EXPECT_EQ(seen.size(), std::size_t(threads * perThread));
}
