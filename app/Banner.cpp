#include "app/Banner.h"

#include "app/MainFrame.h"
#include "qcl/Log.h"

#include <string>

namespace dwl
{
void logStartBanner()
{
    const std::wstring stars(88, L'*');
    QCL_LOG_INFO(stars);
    QCL_LOG_INFO(L"* Started " << productBanner);
    QCL_LOG_INFO(stars);
}

void logStopBanner()
{
    const std::wstring dashes(88, L'-');
    QCL_LOG_INFO(dashes);
    QCL_LOG_INFO(L"- Stopped " << productBanner);
    QCL_LOG_INFO(dashes);
}
} // namespace dwl
