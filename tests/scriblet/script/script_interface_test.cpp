// The script interface as programs in other languages see it: the exported C functions of the shared
// library, and the scriblet-log tool built on them.
#include "scriblet/scriblet_c.h"
#include "tests/scriblet/LoggingScratch.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <type_traits>

namespace
{
test::LoggingScratch scratch;

struct Release
{
    void operator()(scriblet_logger* logger) const { scriblet_logger_release(logger); }
    void operator()(scriblet_items* items) const { scriblet_items_release(items); }
    void operator()(scriblet_enum* enumerator) const { scriblet_enum_release(enumerator); }
};
using Logger = std::unique_ptr<scriblet_logger, Release>;
using Items = std::unique_ptr<scriblet_items, Release>;
using Enum = std::unique_ptr<scriblet_enum, Release>;

// The text of a string the library returned, which is freed; "<null>" for none.
std::string take(char* text)
{
    std::string result = text != nullptr ? text : "<null>";
    scriblet_free_string(text);
    return result;
}

Logger newLogger()
{
    scriblet_logger* logger = nullptr;
    EXPECT_EQ(scriblet_logger_create(&logger), SCRIBLET_S_OK);
    return Logger(logger);
}

// A file appender NAME that adds to `file` lines of level, logger and message.
std::string fileAppender(const std::string& name, const std::string& file)
{
    const std::string key = "log4cplus.appender." + name;
    return key + "=log4cplus::FileAppender\n" + key + ".Append=true\n" + key + ".File=" + file + "\n" + key +
           ".layout=log4cplus::PatternLayout\n" + key + ".layout.ConversionPattern=%-5p %c %m%n\n";
}

// Templates of the subsystems "Script" and "Other" in the scratch folder, found through the registry;
// `extraRegistry` adds lines to the "Script" section.
void configureTemplates(const std::string& extraRegistry = "")
{
    scratch.write("templates/scriblet.Script.cfg", "log4cplus.rootLogger=TRACE, A\n"
                                                   "log4cplus.logger.app=WARN, B\n"
                                                   "log4cplus.logger.app.part=ERROR\n" +
                                                       fileAppender("A", scratch.path("script.log")) +
                                                       fileAppender("B", "%SCRIPT_TEST_LOGS%/b.log"));
    scratch.write("templates/scriblet.Other.cfg",
                  "log4cplus.rootLogger=INFO, A\n" + fileAppender("A", scratch.path("other.log")));
    ::setenv("SCRIPT_TEST_LOGS", scratch.path("logs").c_str(), 1);
    const std::string source = "CfgSourceDir=" + scratch.path("templates") + "\n";
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\Script]\n" + source + extraRegistry +
                            "[SOFTWARE\\Quillmere\\Logging\\Other]\n" + source);
}

// A call of `function` whose out parameter starts as garbage and must come back cleared.
template <class Out, class Function> std::function<scriblet_result()> outCleared(Function function)
{
    return [function]
    {
        Out out{};
        if constexpr (std::is_pointer_v<Out>)
            out = reinterpret_cast<Out>(std::uintptr_t(1));
        else
            out = 7;
        scriblet_result result = function(&out);
        EXPECT_EQ(out, Out{});
        return result;
    };
}

std::vector<std::string> itemsOf(scriblet_items* items)
{
    std::vector<std::string> texts;
    int32_t count = -1;
    EXPECT_EQ(scriblet_items_count(items, &count), SCRIBLET_S_OK);
    for (int32_t i = 1; i <= count; ++i)
    {
        char* text = nullptr;
        EXPECT_EQ(scriblet_items_item(items, i, &text), SCRIBLET_S_OK);
        texts.push_back(take(text));
    }
    return texts;
}
} // namespace

TEST(ScriptInterface, NullArgumentsAreRefusedAndOutParametersAlwaysSet)
{
    Logger logger = newLogger();
    scriblet_items* rawItems = nullptr;
    ASSERT_EQ(scriblet_items_create(&rawItems), SCRIBLET_S_OK);
    Items items(rawItems);
    scriblet_logger* noLogger = nullptr;
    scriblet_items* noItems = nullptr;
    scriblet_enum* noEnum = nullptr;
    const struct
    {
        const char* call;
        std::function<scriblet_result()> run;
        scriblet_result expected;
    } cases[] = {
        {"create(null)", [] { return scriblet_logger_create(nullptr); }, SCRIBLET_E_POINTER},
        {"get_name(no logger)",
         outCleared<char*>([&](auto out) { return scriblet_logger_get_name(noLogger, out); }),
         SCRIBLET_E_POINTER},
        {"get_name(null out)", [&] { return scriblet_logger_get_name(logger.get(), nullptr); },
         SCRIBLET_E_POINTER},
        {"put_name(null)", [&] { return scriblet_logger_put_name(logger.get(), nullptr); },
         SCRIBLET_E_INVALIDARG},
        {"put_name(bad UTF-8)", [&] { return scriblet_logger_put_name(logger.get(), "a\xFF"); },
         SCRIBLET_E_INVALIDARG},
        {"trace(null)", [&] { return scriblet_logger_trace(logger.get(), nullptr); }, SCRIBLET_E_INVALIDARG},
        {"debug(null)", [&] { return scriblet_logger_debug(logger.get(), nullptr); }, SCRIBLET_E_INVALIDARG},
        {"information(null)", [&] { return scriblet_logger_information(logger.get(), nullptr); },
         SCRIBLET_E_INVALIDARG},
        {"warning(null)", [&] { return scriblet_logger_warning(logger.get(), nullptr); },
         SCRIBLET_E_INVALIDARG},
        {"error(null)", [&] { return scriblet_logger_error(logger.get(), nullptr); }, SCRIBLET_E_INVALIDARG},
        {"fatal_error(null)", [&] { return scriblet_logger_fatal_error(logger.get(), nullptr); },
         SCRIBLET_E_INVALIDARG},
        {"log_message(null)", [&] { return scriblet_logger_log_message(logger.get(), 0, nullptr); },
         SCRIBLET_E_INVALIDARG},
        {"warning(no logger)", [&] { return scriblet_logger_warning(noLogger, "x"); }, SCRIBLET_E_POINTER},
        {"can_write_log(null name)",
         outCleared<int>([&](auto out)
                         { return scriblet_logger_can_write_log(logger.get(), nullptr, 0, out); }),
         SCRIBLET_E_INVALIDARG},
        {"can_write_log(no logger)",
         outCleared<int>([&](auto out) { return scriblet_logger_can_write_log(noLogger, "a", 0, out); }),
         SCRIBLET_E_POINTER},
        {"can_write_log(null out)",
         [&] { return scriblet_logger_can_write_log(logger.get(), "a", 0, nullptr); }, SCRIBLET_E_POINTER},
        {"get_all_log_path(null out)",
         [&] { return scriblet_logger_get_all_log_path(logger.get(), nullptr); }, SCRIBLET_E_POINTER},
        {"get_logger_info(no logger)",
         outCleared<scriblet_items*>([&](auto out)
                                     { return scriblet_logger_get_logger_info(noLogger, out); }),
         SCRIBLET_E_POINTER},
        {"get_subsystem(null out)", [&] { return scriblet_logger_get_subsystem(logger.get(), nullptr); },
         SCRIBLET_E_POINTER},
        {"put_subsystem(null)", [&] { return scriblet_logger_put_subsystem(logger.get(), nullptr); },
         SCRIBLET_E_INVALIDARG},
        {"put_subsystem(path)", [&] { return scriblet_logger_put_subsystem(logger.get(), "../x"); },
         SCRIBLET_E_INVALIDARG},
        {"put_subsystem(..)", [&] { return scriblet_logger_put_subsystem(logger.get(), ".."); },
         SCRIBLET_E_INVALIDARG},
        {"initialise(no logger)", [&] { return scriblet_logger_initialise(noLogger); }, SCRIBLET_E_POINTER},
        {"items_create(null)", [] { return scriblet_items_create(nullptr); }, SCRIBLET_E_POINTER},
        {"items_count(no items)",
         outCleared<int32_t>([&](auto out) { return scriblet_items_count(noItems, out); }),
         SCRIBLET_E_POINTER},
        {"items_item(null out)", [&] { return scriblet_items_item(items.get(), 1, nullptr); },
         SCRIBLET_E_POINTER},
        {"items_item(empty)",
         outCleared<char*>([&](auto out) { return scriblet_items_item(items.get(), 1, out); }),
         SCRIBLET_E_INVALIDARG},
        {"items_add(null)", [&] { return scriblet_items_add(items.get(), nullptr); }, SCRIBLET_E_INVALIDARG},
        {"items_remove(empty)", [&] { return scriblet_items_remove(items.get(), 1); }, SCRIBLET_E_INVALIDARG},
        {"items_new_enum(no items)",
         outCleared<scriblet_enum*>([&](auto out) { return scriblet_items_new_enum(noItems, out); }),
         SCRIBLET_E_POINTER},
        {"enum_next(no enum)", outCleared<char*>([&](auto out) { return scriblet_enum_next(noEnum, out); }),
         SCRIBLET_E_POINTER},
        {"enum_skip(no enum)", [&] { return scriblet_enum_skip(noEnum, 1); }, SCRIBLET_E_POINTER},
        {"enum_clone(no enum)",
         outCleared<scriblet_enum*>([&](auto out) { return scriblet_enum_clone(noEnum, out); }),
         SCRIBLET_E_POINTER},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.run(), c.expected) << c.call;
    scriblet_logger_release(nullptr);
    scriblet_items_release(nullptr);
    scriblet_enum_release(nullptr);
    scriblet_free_string(nullptr);
}

TEST(ScriptInterface, WritesTheConfiguredFilesAndAnswersFromTheSubsystemConfiguration)
{
    configureTemplates();
    Logger logger = newLogger();
    scriblet_logger* log = logger.get();
    char* text = nullptr;
    EXPECT_EQ(scriblet_logger_get_subsystem(log, &text), SCRIBLET_S_OK);
    EXPECT_EQ(take(text), "scriblet");
    ASSERT_EQ(scriblet_logger_put_subsystem(log, "Script"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_logger_initialise(log), SCRIBLET_S_OK);

    // Before a name is put, the root logger writes.
    EXPECT_EQ(scriblet_logger_information(log, "before a name"), SCRIBLET_S_OK);
    ASSERT_EQ(scriblet_logger_put_name(log, "app"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_logger_get_name(log, &text), SCRIBLET_S_OK);
    EXPECT_EQ(take(text), "app");
    for (auto write : {scriblet_logger_trace, scriblet_logger_debug, scriblet_logger_information,
                       scriblet_logger_warning, scriblet_logger_error, scriblet_logger_fatal_error})
        EXPECT_EQ(write(log, "level \xC3\xA9"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_logger_log_message(log, SCRIBLET_LEVEL_NOTSET, "not set"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_logger_log_message(log, SCRIBLET_LEVEL_ERROR, "by number"), SCRIBLET_S_OK);
    EXPECT_EQ(test::readLines(scratch.path("script.log")),
              (std::vector<std::string>{"INFO  root before a name", "WARN  app level \xC3\xA9",
                                        "ERROR app level \xC3\xA9", "FATAL app level \xC3\xA9",
                                        "ERROR app by number"}));
    EXPECT_EQ(test::readLines(scratch.path("logs/b.log")).size(), 4u);

    const struct
    {
        const char* logger;
        int32_t level;
        int enabled;
    } levels[] = {{"", SCRIBLET_LEVEL_TRACE, 1},        {"", SCRIBLET_LEVEL_NOTSET, 0},
                  {"app", SCRIBLET_LEVEL_WARN, 1},      {"app", SCRIBLET_LEVEL_INFO, 0},
                  {"app.part", SCRIBLET_LEVEL_WARN, 0}, {"app.part", SCRIBLET_LEVEL_ERROR, 1}};
    for (const auto& l : levels)
    {
        int enabled = -1;
        EXPECT_EQ(scriblet_logger_can_write_log(log, l.logger, l.level, &enabled), SCRIBLET_S_OK);
        EXPECT_EQ(enabled, l.enabled) << l.logger << " at " << l.level;
    }

    EXPECT_EQ(scriblet_logger_get_all_log_path(log, &text), SCRIBLET_S_OK);
    EXPECT_EQ(take(text), scratch.path("script.log") + "|" + scratch.path("logs/b.log"));
    scriblet_items* info = nullptr;
    ASSERT_EQ(scriblet_logger_get_logger_info(log, &info), SCRIBLET_S_OK);
    EXPECT_EQ(itemsOf(Items(info).get()), (std::vector<std::string>{"app|WARN|B", "app.part|ERROR|B"}));

    // A subsystem without a template: accepted, nothing configured, nothing to tell.
    ASSERT_EQ(scriblet_logger_put_subsystem(log, "NoSuchSubsystem"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_logger_warning(log, "goes nowhere"), SCRIBLET_S_OK);
    text = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(scriblet_logger_get_all_log_path(log, &text), SCRIBLET_S_FALSE);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(scriblet_logger_get_logger_info(log, &info), SCRIBLET_S_OK);
    EXPECT_TRUE(itemsOf(Items(info).get()).empty());

    // A new subsystem keeps the logger name.
    ASSERT_EQ(scriblet_logger_put_subsystem(log, "Other"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_logger_information(log, "to other"), SCRIBLET_S_OK);
    EXPECT_EQ(test::readLines(scratch.path("other.log")).back(), "INFO  app to other");
}

TEST(ScriptInterface, SubsystemThatCannotBeConfiguredLeavesTheLoggerAsItWas)
{
    scratch.write("not-a-folder", "");
    configureTemplates("CfgTargetDir=" + scratch.path("not-a-folder/target") + "\n");
    Logger logger = newLogger();
    ASSERT_EQ(scriblet_logger_put_subsystem(logger.get(), "Other"), SCRIBLET_S_OK);
    ASSERT_EQ(scriblet_logger_put_name(logger.get(), "kept"), SCRIBLET_S_OK);

    const scriblet_result result = scriblet_logger_put_subsystem(logger.get(), "Script");
    EXPECT_TRUE(SCRIBLET_FAILED(result));
    EXPECT_EQ(static_cast<uint32_t>(result) & 0xFFFF0000u, 0x80070000u) << std::hex << result;
    char* text = nullptr;
    EXPECT_EQ(scriblet_logger_get_subsystem(logger.get(), &text), SCRIBLET_S_OK);
    EXPECT_EQ(take(text), "Other");
    EXPECT_EQ(scriblet_logger_information(logger.get(), "still here"), SCRIBLET_S_OK);
    EXPECT_EQ(test::readLines(scratch.path("other.log")).back(), "INFO  kept still here");
}

TEST(ScriptInterface, ItemsAreOneBasedAndEnumeratedFromACopy)
{
    scriblet_items* raw = nullptr;
    ASSERT_EQ(scriblet_items_create(&raw), SCRIBLET_S_OK);
    Items items(raw);
    for (const char* text : {"one", "two", "three"})
        ASSERT_EQ(scriblet_items_add(items.get(), text), SCRIBLET_S_OK);
    char* text = nullptr;
    EXPECT_EQ(scriblet_items_item(items.get(), 0, &text), SCRIBLET_E_INVALIDARG);
    EXPECT_EQ(scriblet_items_item(items.get(), 4, &text), SCRIBLET_E_INVALIDARG);
    EXPECT_EQ(scriblet_items_remove(items.get(), 0), SCRIBLET_E_INVALIDARG);
    EXPECT_EQ(scriblet_items_remove(items.get(), 4), SCRIBLET_E_INVALIDARG);

    scriblet_enum* raw_enum = nullptr;
    ASSERT_EQ(scriblet_items_new_enum(items.get(), &raw_enum), SCRIBLET_S_OK);
    Enum walk(raw_enum);
    EXPECT_EQ(scriblet_items_remove(items.get(), 2), SCRIBLET_S_OK);
    EXPECT_EQ(itemsOf(items.get()), (std::vector<std::string>{"one", "three"}));

    // The enumerator still walks the three texts it was made with.
    EXPECT_EQ(scriblet_enum_next(walk.get(), &text), SCRIBLET_S_OK);
    EXPECT_EQ(take(text), "one");
    scriblet_enum* raw_clone = nullptr;
    ASSERT_EQ(scriblet_enum_clone(walk.get(), &raw_clone), SCRIBLET_S_OK);
    Enum clone(raw_clone);
    EXPECT_EQ(scriblet_enum_skip(walk.get(), 1), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_enum_next(walk.get(), &text), SCRIBLET_S_OK);
    EXPECT_EQ(take(text), "three");
    EXPECT_EQ(scriblet_enum_next(walk.get(), &text), SCRIBLET_S_FALSE);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(scriblet_enum_next(clone.get(), &text), SCRIBLET_S_OK);
    EXPECT_EQ(take(text), "two");
    EXPECT_EQ(scriblet_enum_reset(walk.get()), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_enum_skip(walk.get(), 5), SCRIBLET_S_FALSE);
    EXPECT_EQ(scriblet_enum_next(walk.get(), &text), SCRIBLET_S_FALSE);

    EXPECT_EQ(scriblet_items_clear(items.get()), SCRIBLET_S_OK);
    EXPECT_TRUE(itemsOf(items.get()).empty());
    ASSERT_EQ(scriblet_items_add(items.get(), "only"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_items_remove(items.get(), 1), SCRIBLET_S_OK);
    EXPECT_TRUE(itemsOf(items.get()).empty());
}

TEST(ScriptInterface, ScribletLogToolWritesArgumentsOrLinesAndExplainsUsageErrors)
{
    configureTemplates();
    const std::string tool = SCRIBLET_LOG_TOOL;
    const struct
    {
        std::string command;
        int status;
        std::string output;
    } runs[] = {
        {tool + " -s Other -n tool.args -l WARN -- -5 degrees", 0, ""},
        {"printf 'first\\nsecond\\r\\n' | " + tool + " --subsystem Other --logger tool.stdin", 0, ""},
        {tool + " -s Other -l debug hidden", 0, ""},
        {tool + " -s Other -l 20000 numbered", 0, ""},
        {tool + " -s NoSuchSubsystem lost", 0,
         "the logging configuration of subsystem 'NoSuchSubsystem' names no log file"},
        {tool + " -l loud x", 2, "unknown level 'loud'"},
        {tool + " -s", 2, "option '-s' needs a value"},
        {tool + " --colour x", 2, "unknown option '--colour'"},
        {tool + " -s ../x y", 2, "invalid subsystem '../x'"},
    };
    for (const auto& run : runs)
    {
        FILE* pipe = ::popen((run.command + " 2>&1").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, n);
        const int status = ::pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status)) << run.command;
        EXPECT_EQ(WEXITSTATUS(status), run.status) << run.command << "\n" << output;
        if (run.output.empty())
            EXPECT_EQ(output, "") << run.command;
        else
            EXPECT_NE(output.find(run.output), std::string::npos) << run.command << "\n" << output;
    }
    auto lines = test::readLines(scratch.path("other.log"));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"WARN  tool.args -5 degrees", "INFO  tool.stdin first",
                                        "INFO  tool.stdin second", "INFO  root numbered"}));
}

TEST(ScriptInterface, MakingRenamingAndReleasingLoggersLosesNoLineOfOtherWriters)
{
    // The library's own subsystem, which every new logger writes to, with a template of the test's.
    scratch.write("own/scriblet.scriblet.cfg", "log4cplus.rootLogger=INFO, A\n" +
                                                   fileAppender("A", scratch.path("own.log")) +
                                                   "log4cplus.appender.A.layout.ConversionPattern=%m%n\n");
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging]\nCfgSourceDir=" + scratch.path("own") + "\n");
    Logger configuring = newLogger();
    ASSERT_EQ(scriblet_logger_put_subsystem(configuring.get(), "scriblet"), SCRIBLET_S_OK);

    constexpr int writers = 4;
    constexpr int perWriter = 2000;
    std::vector<Logger> loggers;
    for (int t = 0; t < writers; ++t)
        loggers.push_back(newLogger());
    std::atomic<int> running{writers};
    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t)
        threads.emplace_back(
            [&, t]
            {
                for (int i = 0; i < perWriter; ++i)
                {
                    const std::string line = "w" + std::to_string(t) + " " + std::to_string(i);
                    EXPECT_EQ(scriblet_logger_information(loggers[t].get(), line.c_str()), SCRIBLET_S_OK);
                }
                --running;
            });
    int made = 0;
    while (running > 0)
    {
        Logger churned = newLogger();
        EXPECT_EQ(scriblet_logger_put_name(churned.get(), ++made % 2 ? "odd" : "even"), SCRIBLET_S_OK);
        if (made % 10 == 0)
        {
            // Configures the subsystem again, under the writers.
            EXPECT_EQ(scriblet_logger_put_subsystem(churned.get(), "scriblet"), SCRIBLET_S_OK);
        }
    }
    for (auto& thread : threads)
        thread.join();

    std::map<std::string, int> arrived;
    for (const std::string& line : test::readLines(scratch.path("own.log")))
        ++arrived[line];
    for (int t = 0; t < writers; ++t)
        for (int i = 0; i < perWriter; ++i)
        {
            const std::string line = "w" + std::to_string(t) + " " + std::to_string(i);
            ASSERT_EQ(arrived[line], 1) << line << " (" << made << " loggers made meanwhile)";
        }
    scratch.setUserRegistry("");
}

TEST(ScriptInterface, EachNewLoggerTakesUpATemplateThatAppearedOrChanged)
{
    const auto ownTemplate = [](const std::string& log)
    {
        scratch.write("late/scriblet.scriblet.cfg",
                      "log4cplus.rootLogger=INFO, A\n" + fileAppender("A", scratch.path(log)) +
                          "log4cplus.appender.A.layout.ConversionPattern=%m%n\n");
        // Newer than any configuration generated before, whatever the clock's resolution.
        std::filesystem::last_write_time(scratch.path("late/scriblet.scriblet.cfg"),
                                         std::filesystem::file_time_type::clock::now() +
                                             std::chrono::seconds(log == "late-1.log" ? 10 : 20));
    };
    Logger before = newLogger(); // no template of the test's yet
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging]\nCfgSourceDir=" + scratch.path("late") + "\n");
    ownTemplate("late-1.log");
    Logger first = newLogger();
    EXPECT_EQ(scriblet_logger_information(first.get(), "one"), SCRIBLET_S_OK);
    ownTemplate("late-2.log");
    Logger second = newLogger();
    EXPECT_EQ(scriblet_logger_information(second.get(), "two"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_logger_information(before.get(), "three"), SCRIBLET_S_OK);
    EXPECT_EQ(test::readLines(scratch.path("late-1.log")), std::vector<std::string>{"one"});
    EXPECT_EQ(test::readLines(scratch.path("late-2.log")), (std::vector<std::string>{"two", "three"}));
    scratch.setUserRegistry("");
}

TEST(ScriptInterface, ALineThatCannotBeWrittenIsAFailure)
{
    scratch.write("blocking-file", "");
    scratch.write("broken/scriblet.Broken.cfg",
                  "log4cplus.rootLogger=INFO, A\n" +
                      fileAppender("A", scratch.path("blocking-file/broken.log")));
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\Broken]\nCfgSourceDir=" + scratch.path("broken") +
                            "\n");
    Logger logger = newLogger();
    ASSERT_EQ(scriblet_logger_put_subsystem(logger.get(), "Broken"), SCRIBLET_S_OK);
    EXPECT_EQ(scriblet_logger_information(logger.get(), "lost"), SCRIBLET_E_FAIL);
    EXPECT_EQ(scriblet_logger_debug(logger.get(), "below the level: nothing to write"), SCRIBLET_S_OK);
    scratch.setUserRegistry("");
}

TEST(ScriptInterface, OneLoggerWritesFromManyThreadsWhileItsNameChanges)
{
    configureTemplates();
    Logger logger = newLogger();
    ASSERT_EQ(scriblet_logger_put_subsystem(logger.get(), "Other"), SCRIBLET_S_OK);
    const std::size_t before = test::readLines(scratch.path("other.log")).size();
    constexpr int writers = 4;
    constexpr int perWriter = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t)
        threads.emplace_back(
            [&]
            {
                for (int i = 0; i < perWriter; ++i)
                    EXPECT_EQ(scriblet_logger_information(logger.get(), "concurrent"), SCRIBLET_S_OK);
            });
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(scriblet_logger_put_name(logger.get(), i % 2 ? "odd" : "even"), SCRIBLET_S_OK);
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(test::readLines(scratch.path("other.log")).size() - before, std::size_t(writers * perWriter));
}
