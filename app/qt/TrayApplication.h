#pragma once
// The tray application on Qt: the engine, its tray window and the desktop's events, wired together and run on
// the Qt event loop of the calling (main) thread until the window closes.

namespace dwl::qt
{
// The event loop's exit code: 0 after Exit, the end of the session or a hand-over, non-zero after a failure.
// Throws what the set-up throws.
int runTrayApplication(int argc, char** argv);
} // namespace dwl::qt
