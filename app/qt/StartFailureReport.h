#pragma once
// How the program says that it cannot start: always on standard error, in the log where the log can be
// written, and in an error message where a display exists. It then ends with exit status 1.

#include <optional>
#include <string>

namespace dwl::ui
{
class MessageBox;
}

namespace dwl::qt
{
// Why no window could be shown, or nothing: the windowing system Qt would use is named no display (neither
// DISPLAY nor WAYLAND_DISPLAY is set and no other platform is chosen).
std::optional<std::wstring> displayProblem(int argc, char** argv);

// Standard error, the log, then, when `messageBox` is given, the error message (main thread, with a
// QApplication).
void reportStartFailure(const std::wstring& message, ui::MessageBox* messageBox);

// For a failure of the log itself: nothing may be logged. Standard error, then the error message when a
// display can be opened (a QApplication is made for it). Returns the exit status, 1.
int reportUnloggedStartFailure(int argc, char** argv, const std::wstring& message);

// While it lives, a fatal message of Qt (the display cannot be reached while the application is made) ends
// the program with exit status 1 after saying why on standard error and, when `logged`, in the log with the
// stop banner; Qt would abort it with no word in the log.
class FatalQtMessageExit
{
public:
    explicit FatalQtMessageExit(bool logged);
    ~FatalQtMessageExit();
    FatalQtMessageExit(const FatalQtMessageExit&) = delete;
    FatalQtMessageExit& operator=(const FatalQtMessageExit&) = delete;
};
} // namespace dwl::qt
