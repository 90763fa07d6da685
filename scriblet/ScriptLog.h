#pragma once
// The logger object of the script interface: writes to the logs of one subsystem (at first
// "scriblet") through one named logger (at first the root logger), and answers questions about the
// subsystem's configuration. Texts are UTF-8. Its operations may be called from several threads at
// once; exceptions (a subsystem whose folders cannot be made, memory) reach the caller.

#include "compat/Types.h"
#include "scriblet/LoggingSystem.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class LogWriter;

namespace scriblet
{
class CLoggerItems;

// `text` with its ${NAME} references replaced by the environment's values, as the framework does when
// it reads a generated configuration file (an unset variable gives nothing).
std::string substituteEnvironment(const std::string& text);

class CLog
{
public:
    // The level value of the interface that stands for the framework's NOTSET (-1).
    static constexpr std::int32_t NotSetLevel = -10000;

    // Configures the subsystem "scriblet" and writes to it.
    CLog();
    ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    HRESULT get_Name(std::string* name) const;
    // Writes through the logger `name` from now on ("" for the root logger).
    HRESULT put_Name(const char* name);

    HRESULT Trace(const char* text);
    HRESULT Debug(const char* text);
    HRESULT Information(const char* text);
    HRESULT Warning(const char* text);
    HRESULT Error(const char* text);
    HRESULT FatalError(const char* text);
    HRESULT LogMessage(std::int32_t level, const char* text);

    // `enabled` is 1 when the logger `name` of the current subsystem writes at `level`, else 0.
    HRESULT CanWriteLog(const char* name, std::int32_t level, int* enabled) const;
    // The log files of the current subsystem's configuration, joined by "|"; S_FALSE and empty when
    // there is none.
    HRESULT GetAllLogPath(std::string* paths) const;
    // One item "<full name>|<level>|<appenders>" per logger of the current subsystem's configuration.
    HRESULT GetLoggerInfo(std::unique_ptr<CLoggerItems>* items) const;

    HRESULT get_Subsystem(std::string* subsystem) const;
    // Configures `subsystem` and writes to its logs from now on; when that throws, nothing changes.
    HRESULT put_Subsystem(const char* subsystem);

    HRESULT Initialise();

private:
    HRESULT write(int level, const char* text);
    std::shared_ptr<LogWriter> writer() const;
    std::wstring subsystem() const;

    mutable std::mutex mMutex;
    LoggingSystem mSystem;
    std::wstring mName;
    std::shared_ptr<LogWriter> mWriter;
};
} // namespace scriblet
