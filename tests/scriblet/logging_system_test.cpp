// The exported classes end to end: a subsystem configured from its template through the registry,
// writers of its loggers, and the files they write.
#include "scriblet/LogWriter.h"
#include "scriblet/LoggingSystem.h"
#include "tests/scriblet/LoggingScratch.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>
#include <thread>

namespace
{
test::LoggingScratch scratch;

// Configures `subsystem` from a template with `body` below the settings of its appender "A", which
// writes "<subsystem>.log" in the scratch folder.
std::unique_ptr<LogWriter> configure(const std::string& subsystem, const std::string& rootLevel,
                                     const std::string& loggerName = "")
{
    const std::string templates = "templates-" + subsystem;
    scratch.write(templates + "/scriblet." + subsystem + ".cfg",
                  "log4cplus.rootLogger=" + rootLevel + ", A\n"
                  "log4cplus.appender.A=log4cplus::FileAppender\n"
                  "log4cplus.appender.A.Append=true\n"
                  "log4cplus.appender.A.File=" + scratch.path(subsystem + ".log") + "\n"
                  "log4cplus.appender.A.layout=log4cplus::PatternLayout\n"
                  "log4cplus.appender.A.layout.ConversionPattern=%-5p %c %m [%b:%L]%n\n");
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\" + subsystem + "]\nCfgSourceDir=" + scratch.path(templates) +
                            "\n");
    LoggingSystem system;
    std::wstring name(subsystem.begin(), subsystem.end());
    system.PutSubsystem(name);
    EXPECT_EQ(system.GetSubsystem(), name);
    return std::unique_ptr<LogWriter>(system.CreateLogWriter(std::wstring(loggerName.begin(), loggerName.end())));
}
} // namespace

TEST(LoggingSystem, WritesConfiguredLayoutInUtf8ForTheNamedLoggerAndRoot)
{
    auto named = configure("Layout", "INFO", "Wayfold");
    named->Message(20000, std::wstring(L"dwl::f\tGr\u00FC\u00DFe \xD83D\xDE00"), "Mediator", 42);
    named->Message(20000, std::string("dwl::g\tnarrow \xC3\xA9"), "Main", 7);
    named->Message(10000, std::wstring(L"not enabled"), "Main", 8);
    auto root = configure("Layout", "INFO", "");
    root->Message(30000, std::wstring(L"from root"), nullptr, -1);

    auto lines = test::readLines(scratch.path("Layout.log"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "INFO  Wayfold dwl::f\tGr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80 [Mediator:42]");
    EXPECT_EQ(lines[1], "INFO  Wayfold dwl::g\tnarrow \xC3\xA9 [Main:7]");
    EXPECT_EQ(lines[2].rfind("WARN  root from root", 0), 0u) << lines[2];
}

TEST(LoggingSystem, MalformedTextIsWrittenWithReplacementCharactersAndNeverThrows)
{
    auto writer = configure("Malformed", "TRACE");
    EXPECT_NO_THROW(writer->Message(20000, std::string("bad \xFF\xC3"), "F", 1));
    EXPECT_NO_THROW(writer->Message(20000, std::wstring(L"lone \xD800!"), "F", 2));
    auto lines = test::readLines(scratch.path("Malformed.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("bad \xEF\xBF\xBD\xEF\xBF\xBD"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("lone \xEF\xBF\xBD!"), std::string::npos) << lines[1];
}

TEST(LoggingSystem, LevelTestsFollowTheThreshold)
{
    auto writer = configure("Levels", "WARN");
    EXPECT_FALSE(writer->IsEnabledFor(0));
    EXPECT_FALSE(writer->IsEnabledFor(20000));
    EXPECT_TRUE(writer->IsEnabledFor(30000));
    EXPECT_TRUE(writer->IsEnabledFor(50000));
}

TEST(LoggingSystem, ConcurrentWritersLoseNoLine)
{
    auto writer = configure("Concurrent", "INFO");
    constexpr int threads = 8;
    constexpr int perThread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                writer->Message(20000, L"worker " + std::to_wstring(t) + L" line " + std::to_wstring(i) + L" \u00E4",
                                "Worker", i);
        });
    for (auto& worker : workers)
        worker.join();

    const std::regex layout(R"(INFO  root worker (\d+) line (\d+) \xC3\xA4 \[Worker:(\d+)\])");
    std::set<std::pair<int, int>> seen;
    for (const auto& line : test::readLines(scratch.path("Concurrent.log")))
    {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, layout)) << line;
        EXPECT_EQ(match[2], match[3]);
        seen.emplace(std::stoi(match[1]), std::stoi(match[2]));
    }
    EXPECT_EQ(seen.size(), std::size_t(threads * perThread));
}

TEST(LoggingSystem, CopiesKeepTheSubsystemName)
{
    LoggingSystem first;
    LoggingSystem second(first);
    EXPECT_TRUE(second.GetSubsystem().empty());
    // A subsystem without a template configures nothing and does not throw.
    EXPECT_NO_THROW(first.PutSubsystem(L"NoTemplateHere"));
    second = first;
    EXPECT_EQ(second.GetSubsystem(), L"NoTemplateHere");
    second = second;
    EXPECT_EQ(second.GetSubsystem(), L"NoTemplateHere");
    std::unique_ptr<LogWriter> writer(second.CreateLogWriter(L"x"));
    EXPECT_NO_THROW(writer->Message(50000, std::wstring(L"goes nowhere"), nullptr, -1));
}
