// wayfold: the tray application. Writes the start and stop banners around the run and turns anything that
// escapes it into a fatal log line. Exit codes: 0 after a normal exit, the end of the session or the
// hand-over to a running instance; 1 when it cannot start (no display, a data folder of another user, no
// usable list of servers, a failed hand-over), and non-zero after any other failure.

#include "app/Banner.h"
#include "app/qt/StartFailureReport.h"
#include "app/qt/TrayApplication.h"
#include "qcl/Error.h"
#include "qcl/Log.h"

namespace
{
constexpr int failedExitCode = -1;
} // namespace

int main(int argc, char** argv)
{
    try
    {
        dwl::logStartBanner();
    }
    catch (...)
    {
        // The log cannot be written (its folders belong to another user, say): nothing may log from here on.
        return dwl::qt::reportUnloggedStartFailure(argc, argv, qcl::currentExceptionMessage());
    }
    int exitCode = failedExitCode;
    try
    {
        exitCode = dwl::qt::runTrayApplication(argc, argv);
    }
    catch (...)
    {
        QCL_LOG_FATAL(qcl::currentExceptionMessage());
        exitCode = failedExitCode;
    }
    dwl::logStopBanner();
    return exitCode;
}
