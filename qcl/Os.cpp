#include "qcl/Os.h"

#include "compat/VersionApi.h"

namespace qcl::os
{
int getVersion()
{
    OSVERSIONINFOW information = {};
    information.dwOSVersionInfoSize = sizeof information;
    if (!::GetVersionExW(&information))
        return 0;
    if (information.dwMajorVersion == 5)
        return 1;
    if (information.dwMajorVersion == 6)
        return information.dwMinorVersion == 0 ? 2 : 3;
    return 0;
}
} // namespace qcl::os
