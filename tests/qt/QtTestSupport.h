#pragma once
// The application object for Qt view tests, screenshots, and acting on modal dialogs from inside their event
// loop.

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

namespace test
{
inline QApplication& qtApplication()
{
    static int argc = 1;
    static char name[] = "wayfold-qt-test";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Never destroyed: Qt's own globals are gone by the time static objects are.
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

// Saves the widget as WAYFOLD_SCREENSHOT_DIR/<name>.png.
inline bool saveScreenshot(QWidget& widget, const std::string& name)
{
    QDir().mkpath(WAYFOLD_SCREENSHOT_DIR);
    return widget.grab().save(
        QString::fromStdString(std::string(WAYFOLD_SCREENSHOT_DIR) + "/" + name + ".png"));
}

// Runs `action` with the first modal widget that shows up and is not `previous`, from the event loop of that
// modal (so a test can act on a dialog that blocks in exec()). Gives up after a minute.
inline void whenModalShown(std::function<void(QWidget&)> action, QWidget* previous = nullptr)
{
    auto* timer = new QTimer;
    const auto started = std::chrono::steady_clock::now();
    QObject::connect(timer, &QTimer::timeout,
                     [timer, action, previous, started]
                     {
                         QWidget* modal = QApplication::activeModalWidget();
                         if (modal != nullptr && modal != previous && modal->isVisible())
                         {
                             timer->deleteLater();
                             timer->stop();
                             action(*modal);
                         }
                         else if (std::chrono::steady_clock::now() - started > std::chrono::minutes(1))
                         {
                             timer->deleteLater();
                             timer->stop();
                         }
                     });
    timer->start(10);
}

template <class Widget = QWidget> Widget* control(QWidget& dialog, int id)
{
    return dialog.findChild<Widget*>(QString::number(id));
}
} // namespace test
