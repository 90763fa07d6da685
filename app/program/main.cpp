// wayfold: the tray application. Writes the start and stop banners around the run and turns anything that
// escapes it into a fatal log line. Exit codes: 0 after a normal exit, the end of the session or the
// hand-over to a running instance; non-zero after a failure.

#include "app/MainFrame.h"
#include "app/qt/TrayApplication.h"
#include "qcl/Error.h"
#include "qcl/Log.h"

#include <string>

namespace
{
constexpr int failedExitCode = -1;
} // namespace

int main(int argc, char** argv)
{
    const std::wstring stars(88, L'*'), dashes(88, L'-');
    QCL_LOG_INFO(stars);
    QCL_LOG_INFO(L"* Started " << dwl::productBanner);
    QCL_LOG_INFO(stars);
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
    QCL_LOG_INFO(dashes);
    QCL_LOG_INFO(L"- Stopped " << dwl::productBanner);
    QCL_LOG_INFO(dashes);
    return exitCode;
}
