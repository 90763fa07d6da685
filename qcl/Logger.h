#pragma once
// The program's one entry to the logging library, made on the first log statement of the process and
// kept until it ends. It sets the subsystem "Wayfold" (the library then configures its loggers),
// holds the program's LogWriter and caches once which levels are enabled, so that a disabled log
// statement costs one test.

#include "scriblet/LoggingSystem.h"

#include <string>

class LogWriter;

namespace qcl::logging
{
enum Level : int
{
    Trace = 0,
    Debug = 10000,
    Info = 20000,
    Warn = 30000,
    Error = 40000,
    Fatal = 50000,
};

class Logger
{
public:
    // Creates the logger on first use (concurrent first callers wait for the one creation). A failure
    // of the logging library propagates and leaves it unmade; the next call tries again.
    static Logger& instance();

    bool isEnabled(int level) const
    {
        return level >= Trace && level <= Fatal && level % 10000 == 0 && mEnabled[level / 10000];
    }
    // `file` is the source path as the compiler gives it; the bare name without extension is logged.
    void write(int level, const std::wstring& text, const char* file, int line);

    LogWriter& writer() const { return *mWriter; }
    const std::wstring& subsystem() const { return mSubsystem; }

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger();

    LoggingSystem mSystem;
    std::wstring mSubsystem;
    LogWriter* mWriter;
    // trace, debug, info, warn, error, fatal
    bool mEnabled[6] = {};
};

// "dwl::Scanner::run" from "void dwl::Scanner::run()".
std::wstring qualifiedFunctionName(const char* prettyFunction);
// "Scanner" from "/src/sync/Scanner.cpp".
std::string bareFileName(const char* path);
} // namespace qcl::logging
