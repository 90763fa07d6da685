#pragma once
// The configuration (and password) dialog on Qt Widgets.

#include "app/ui/ConfigurationView.h"

#include <QDialog>

#include <functional>
#include <map>

class QComboBox;

namespace dwl::qt
{
class ConfigurationDialog;

class QtConfigurationView : public ui::ConfigurationView
{
public:
    explicit QtConfigurationView(QWidget* parent);
    ~QtConfigurationView() override;

    HWND window() override;
    HWND control(int id) override;
    int run(Events& events) override;
    void end(int result) override;
    void addServer(const std::wstring& displayName) override;
    void selectServer(int index) override;
    int selectedServer() override;
    void setEnabled(int id, bool enabled) override;
    void setFocus(int id, bool selectAll) override;
    void setDefaultButton(int id) override;
    void postPingEnded() override;

    // The dialog and its controls, for tests that drive them.
    QDialog& dialog();
    QWidget* widget(int id) const;

private:
    // Runs an event handler; an exception must not unwind through Qt's event loop, so it is logged here.
    void deliver(const std::function<void(Events&)>& call);

    ConfigurationDialog* mDialog;
    std::map<int, QWidget*> mControls;
    QComboBox* mServers;
    Events* mEvents = nullptr;
    bool mEnded = false;
    int mResult = ui::IDCANCEL;
};
} // namespace dwl::qt
