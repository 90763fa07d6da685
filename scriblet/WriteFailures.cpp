#include "scriblet/WriteFailures.h"

namespace scriblet
{
namespace
{
thread_local bool tWriteFailed = false;
} // namespace

void RecordingErrorHandler::error(const log4cplus::tstring& text)
{
    recordWriteFailure();
    log4cplus::OnlyOnceErrorHandler::error(text);
}

void recordWriteFailure() noexcept
{
    tWriteFailed = true;
}

bool takeWriteFailure() noexcept
{
    const bool failed = tWriteFailed;
    tWriteFailed = false;
    return failed;
}
} // namespace scriblet
