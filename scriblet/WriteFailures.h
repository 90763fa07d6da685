#pragma once
// Lines that did not reach their file. An appender that cannot write a line reports it through its error
// handler, which records the failure on the writing thread, so that the script interface can tell its caller
// that the line was lost instead of answering success.

#include <log4cplus/appender.h>

namespace scriblet
{
// The framework's handler (the first failure is reported to the library's diagnostic output until the
// appender recovers) that also records every failure on the calling thread.
class RecordingErrorHandler : public log4cplus::OnlyOnceErrorHandler
{
public:
    void error(const log4cplus::tstring& text) override;
};

void recordWriteFailure() noexcept;
// Whether a line written on this thread since the last call was lost; clears the record.
bool takeWriteFailure() noexcept;
} // namespace scriblet
