#pragma once
// The live file of a log that several processes may write at once (programs started together share their
// log files). It is kept for the user alone: missing folders are made with mode 0700, the file with mode
// 0600, and neither a link nor a file of another user is ever opened. Writers hold an exclusive lock between
// processes while they write a line and while they roll the file over, so that no line is lost, doubled or
// torn by another process's rollover.

#include "compat/PrivateFiles.h"

#include <log4cplus/helpers/property.h>

#include <string>

namespace scriblet
{
class SharedLogFile
{
public:
    // Prepares the file named by the "File" property before the framework's appender opens it.
    explicit SharedLogFile(const log4cplus::helpers::Properties& properties);

    // Makes sure the file at `path` can be opened as a private file (creating it and its folders when
    // missing); false, with an internal error line, when it cannot.
    static bool prepare(const std::string& path);

    // Holds the lock for its lifetime; does nothing when the file could not be prepared.
    class Guard
    {
    public:
        explicit Guard(SharedLogFile& file);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        compat::PrivateFile& mFile;
        bool mLocked;
    };

protected:
    // The properties for the framework's appender: "File" is emptied when the file cannot be used, so that
    // the framework opens nothing in its place.
    log4cplus::helpers::Properties mAppenderProperties;

private:
    compat::PrivateFile mLockFile;
};
} // namespace scriblet
