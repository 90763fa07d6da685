#pragma once
// The lines that frame every run of the program in the log.

namespace dwl
{
void logStartBanner();
void logStopBanner();
} // namespace dwl
