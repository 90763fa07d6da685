#pragma once
// The library's own versions of the framework's file appenders. They differ from the framework's in
// these ways:
// - missing folders of the log file are made when the file is opened; files and new folders are private
//   to the user (see SharedLogFile), backups too;
// - the rolling appenders hold a lock between processes around each line and each rollover, so processes
//   sharing a file lose, double and tear no line;
// - rollover copies the live file to its backup and then empties it in place (truncate, then reopen
//   for appending), so another process holding the live file open keeps a valid file and two writers
//   never leave holes or overwrite each other's lines;
// - when the copy fails, the live file is kept as it is: no line is lost.
// - a line that cannot be written is reported through the appender's error handler, which records it on
//   the writing thread (see WriteFailures.h).
// A MaxBackupIndex of 0 on the size-rolling appender is honoured: the file is emptied at each rollover
// and no backup is kept. Everything else (properties, layouts, schedule) is the framework's.

#include "scriblet/SharedLogFile.h"

#include <log4cplus/fileappender.h>

namespace scriblet
{
class FileAppender : private SharedLogFile, public log4cplus::FileAppender
{
public:
    static constexpr const char* className = "scriblet::FileAppender";

    explicit FileAppender(const log4cplus::helpers::Properties& properties);
    ~FileAppender() override;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;
    void open(std::ios_base::openmode mode) override;
};

class RollingFileAppender : private SharedLogFile, public log4cplus::RollingFileAppender
{
public:
    static constexpr const char* className = "scriblet::RollingFileAppender";

    explicit RollingFileAppender(const log4cplus::helpers::Properties& properties);
    ~RollingFileAppender() override;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;
    void open(std::ios_base::openmode mode) override;

private:
    void rollOver();

    int mBackupCount;
    // After a failed copy the next attempt waits until the file has grown by another MaxFileSize, so
    // that a lasting failure does not cost a copy per line.
    std::streamoff mNextAttemptSize;
};

class DailyRollingFileAppender : private SharedLogFile, public log4cplus::DailyRollingFileAppender
{
public:
    static constexpr const char* className = "scriblet::DailyRollingFileAppender";

    explicit DailyRollingFileAppender(const log4cplus::helpers::Properties& properties);
    ~DailyRollingFileAppender() override;

    void close() override;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;
    void open(std::ios_base::openmode mode) override;

private:
    void rollOver(const log4cplus::helpers::Time& now);
};

// Registers the three classes with the framework's appender factory registry (once per process).
void registerFileAppenders();
} // namespace scriblet
