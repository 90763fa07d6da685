// Lines per second through LogWriter::Message into a rolling file appender of the library, against
// two baselines measured in the same run with the same line and layout: the framework's own file
// appender called directly with UTF-8 text, and fwrite of an already formatted line with a flush per
// line (what the appenders do with ImmediateFlush).
#include "scriblet/LogWriter.h"
#include "scriblet/LoggingSystem.h"

#include <log4cplus/configurator.h>
#include <log4cplus/hierarchy.h>
#include <log4cplus/logger.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace
{
const std::wstring wideLine = L"dwl::Scanner::rescanTree\tScanned 'Projekte/Gr\u00FC\u00DFe/Quartalsbericht.docx', 1234 bytes";
const std::string narrowLine = "dwl::Scanner::rescanTree\tScanned 'Projekte/Gr\xC3\xBC\xC3\x9F" "e/Quartalsbericht.docx', 1234 bytes";
const char* pattern = "%D{%Y-%m-%d %H:%M:%S.%q} [%t] %-5p %m [%b:%L]%n";

// A scratch folder for the whole run, holding the template, the registry file and the logs.
struct Scratch
{
    std::string root;
    Scratch()
    {
        root = (std::filesystem::temp_directory_path() / "logging-bench-XXXXXX").string();
        if (::mkdtemp(root.data()) == nullptr)
            std::abort();
        ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        ::setenv("QUILLMERE_USER_REGISTRY", (root + "/user.ini").c_str(), 1);
        std::ofstream(root + "/scriblet.Bench.cfg")
            << "log4cplus.rootLogger=INFO, A\n"
               "log4cplus.appender.A=log4cplus::RollingFileAppender\n"
               "log4cplus.appender.A.File=" << root << "/scriblet.log\n"
               "log4cplus.appender.A.MaxFileSize=100MB\n"
               "log4cplus.appender.A.MaxBackupIndex=1\n"
               "log4cplus.appender.A.layout=log4cplus::PatternLayout\n"
               "log4cplus.appender.A.layout.ConversionPattern=" << pattern << "\n";
        std::ofstream(root + "/user.ini") << "[SOFTWARE\\Quillmere\\Logging\\Bench]\nCfgSourceDir=" << root << "\n";
    }
    ~Scratch() { std::filesystem::remove_all(root); }
};

Scratch& scratch()
{
    static Scratch instance;
    return instance;
}

void BM_LogWriterMessage(benchmark::State& state)
{
    scratch();
    LoggingSystem system;
    system.PutSubsystem(L"Bench");
    std::unique_ptr<LogWriter> writer(system.CreateLogWriter(L"Wayfold"));
    for (auto _ : state)
        writer->Message(20000, wideLine, "Scanner", 42);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogWriterMessage);

void BM_FrameworkFileAppender(benchmark::State& state)
{
    scratch();
    log4cplus::Hierarchy hierarchy;
    log4cplus::helpers::Properties properties;
    properties.setProperty("log4cplus.rootLogger", "INFO, A");
    properties.setProperty("log4cplus.appender.A", "log4cplus::RollingFileAppender");
    properties.setProperty("log4cplus.appender.A.File", scratch().root + "/framework.log");
    properties.setProperty("log4cplus.appender.A.MaxFileSize", "100MB");
    properties.setProperty("log4cplus.appender.A.layout", "log4cplus::PatternLayout");
    properties.setProperty("log4cplus.appender.A.layout.ConversionPattern", pattern);
    log4cplus::PropertyConfigurator(properties, hierarchy).configure();
    log4cplus::Logger logger = hierarchy.getInstance("Wayfold");
    for (auto _ : state)
        logger.log(log4cplus::INFO_LOG_LEVEL, narrowLine, "Scanner", 42, "");
    state.SetItemsProcessed(state.iterations());
    hierarchy.shutdown();
}
BENCHMARK(BM_FrameworkFileAppender);

void BM_FwriteFormattedLine(benchmark::State& state)
{
    FILE* file = std::fopen((scratch().root + "/fwrite.log").c_str(), "a");
    const std::string line = "2026-01-01 00:00:00.000 [140000000000000] INFO  " + narrowLine + " [Scanner:42]\n";
    for (auto _ : state)
    {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fflush(file);
    }
    std::fclose(file);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FwriteFormattedLine);
} // namespace

BENCHMARK_MAIN();
