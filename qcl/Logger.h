#pragma once
// The program's one entry to the logging library: made on the first log statement, caches which
// levels are enabled.

#include <string>

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
    static Logger& instance();

    bool isEnabled(int level) const { return mEnabled[level / 10000]; }
    // `file` is the source path as the compiler gives it; the bare name without extension is logged.
    void write(int level, const std::wstring& text, const char* file, int line);

private:
    Logger();

    // trace, debug, info, warn, error, fatal
    bool mEnabled[6] = {};
};

// "dwl::Scanner::run" from "void dwl::Scanner::run()".
std::wstring qualifiedFunctionName(const char* prettyFunction);
// "Scanner" from "/src/sync/Scanner.cpp".
std::string bareFileName(const char* path);
} // namespace qcl::logging
