#include "app/qt/StartFailureReport.h"

#include "app/Banner.h"
#include "app/Strings.h"
#include "app/qt/QtMessageBox.h"
#include "app/qt/Text.h"
#include "app/ui/MessageBox.h"
#include "qcl/Log.h"

#include <QApplication>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace dwl::qt
{
namespace
{
constexpr int failedToStart = 1;
const unsigned errorFlags = ui::MB_ICONERROR | ui::MB_SYSTEMMODAL;

bool isSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0';
}

std::wstring variable(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::wstring() : qcl::string::utf8ToUtf16Lenient(value);
}

void writeToStandardError(const std::wstring& message)
{
    std::cerr << "wayfold: " << qcl::string::utf16ToUtf8Lenient(message) << std::endl;
}

bool gLogged = false;
QtMessageHandler gPreviousHandler = nullptr;

void exitOnFatalMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg)
    {
        if (gPreviousHandler)
            gPreviousHandler(type, context, text);
        return;
    }
    const std::wstring message = L"Cannot start Quillmere Wayfold: the display cannot be opened (DISPLAY '" +
                                 variable("DISPLAY") + L"', WAYLAND_DISPLAY '" + variable("WAYLAND_DISPLAY") +
                                 L"')";
    writeToStandardError(message);
    if (gLogged)
    {
        QCL_LOG_FATAL(message << L": " << toWString(text));
        logStopBanner();
    }
    // Qt is half made: nothing of it may be taken down.
    std::_Exit(failedToStart);
}
} // namespace

std::optional<std::wstring> displayProblem(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0)
            return std::nullopt;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool windowingSystem = platform == nullptr || platform[0] == '\0' ||
                                 std::strstr(platform, "xcb") != nullptr ||
                                 std::strstr(platform, "wayland") != nullptr;
    if (!windowingSystem || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return std::nullopt;
    return L"Cannot start Quillmere Wayfold: it needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is "
           L"set";
}

void reportStartFailure(const std::wstring& message, ui::MessageBox* messageBox)
{
    writeToStandardError(message);
    QCL_LOG_FATAL(message);
    if (messageBox != nullptr)
        messageBox->show(nullptr, message, loadString(IDS_APP_TITLE), errorFlags);
}

int reportUnloggedStartFailure(int argc, char** argv, const std::wstring& message)
{
    writeToStandardError(message);
    if (displayProblem(argc, argv))
        return failedToStart;
    const FatalQtMessageExit noDisplay(false);
    QApplication application(argc, argv);
    QtMessageBox().show(nullptr, message, loadString(IDS_APP_TITLE), errorFlags);
    return failedToStart;
}

FatalQtMessageExit::FatalQtMessageExit(bool logged)
{
    gLogged = logged;
    gPreviousHandler = qInstallMessageHandler(&exitOnFatalMessage);
}

FatalQtMessageExit::~FatalQtMessageExit()
{
    qInstallMessageHandler(gPreviousHandler);
    gPreviousHandler = nullptr;
}
} // namespace dwl::qt
