#pragma once
// The Windows version class that chooses the application-data folder.

namespace qcl::os
{
// 0 when the query fails or the major version is neither 5 nor 6; 1 for 5.x; 2 for 6.0; 3 for 6.1 on.
int getVersion();
} // namespace qcl::os
