#pragma once
// Writes messages to one logger of a subsystem's hierarchy. Made by LoggingSystem::CreateLogWriter;
// the receiver owns it. Message and IsEnabledFor may be called from any thread at the same time.

#include "scriblet/Export.h"

#include <shared_mutex>
#include <string>

namespace log4cplus
{
class Logger;
}

class SCRIBLET_API LogWriter
{
public:
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    bool IsEnabledFor(int level) const;

    // Logs `text` (UTF-16) at `level` with the source file name and line (a null file and line -1 mean
    // no location). Text that is not valid UTF-16 is written with U+FFFD in place of the bad units.
    // Never throws; a line that is lost is recorded on the calling thread (see WriteFailures.h).
    void Message(int level, const std::wstring& text, const char* file, int line);
    // The same for UTF-8 text; invalid sequences are written as U+FFFD. Never throws.
    void Message(int level, const std::string& text, const char* file, int line);

private:
    friend class LoggingSystem;
    // `gate` is the subsystem's: held shared while writing, so that a new configuration of the subsystem
    // never changes the appenders under a line being written.
    LogWriter(const log4cplus::Logger& logger, std::shared_mutex& gate);

    log4cplus::Logger* mLogger;
    std::shared_mutex* mGate;
};
