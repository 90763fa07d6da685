#include "scriblet/LogWriter.h"

#include "qcl/String.h"
#include "scriblet/WriteFailures.h"

#include <log4cplus/logger.h>

LogWriter::LogWriter(const log4cplus::Logger& logger, std::shared_mutex& gate)
    : mLogger(new log4cplus::Logger(logger)), mGate(&gate)
{
}

LogWriter::~LogWriter()
{
    delete mLogger;
}

bool LogWriter::IsEnabledFor(int level) const
{
    std::shared_lock lock(*mGate);
    return mLogger->isEnabledFor(level);
}

void LogWriter::Message(int level, const std::wstring& text, const char* file, int line)
{
    try
    {
        std::shared_lock lock(*mGate);
        if (mLogger->isEnabledFor(level))
            mLogger->forcedLog(level, qcl::string::utf16ToUtf8Lenient(text), file, line, "");
    }
    catch (...)
    {
        // A log statement must never fail its caller; a caller that asks learns that the line was lost.
        scriblet::recordWriteFailure();
    }
}

void LogWriter::Message(int level, const std::string& text, const char* file, int line)
{
    try
    {
        std::shared_lock lock(*mGate);
        if (mLogger->isEnabledFor(level))
        {
            std::string valid = qcl::string::utf16ToUtf8Lenient(qcl::string::utf8ToUtf16Lenient(text));
            mLogger->forcedLog(level, valid, file, line, "");
        }
    }
    catch (...)
    {
        scriblet::recordWriteFailure();
    }
}
