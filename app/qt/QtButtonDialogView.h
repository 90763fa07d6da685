#pragma once
// A modal dialog of an icon, a message control and a row of buttons, each closing the dialog with its id.

#include "app/ui/MissingFolderView.h"
#include "app/ui/UnlinkView.h"

#include <QDialog>
#include <QStyle>

#include <map>

class QHBoxLayout;

namespace dwl::qt
{
class ButtonDialog : public QDialog
{
public:
    ButtonDialog(QWidget* parent, QStyle::StandardPixmap icon, QWidget* message);

    void addButton(int id, const QString& text, bool isDefault);
    QWidget* control(int id) const;
    void setControl(int id, QWidget* widget)
    {
        widget->setObjectName(QString::number(id));
        mControls[id] = widget;
    }

    // Escape and the close box.
    void reject() override { done(ui::IDCANCEL); }

private:
    QHBoxLayout* mButtons;
    std::map<int, QWidget*> mControls;
};

template <class Interface> class QtButtonDialogView : public Interface
{
public:
    explicit QtButtonDialogView(ButtonDialog* dialog) : mDialog(dialog) {}
    ~QtButtonDialogView() override { delete mDialog; }

    HWND window() override;
    HWND control(int id) override;
    int run(const std::function<void()>& onInit) override
    {
        onInit();
        return mDialog->exec();
    }
    void bringToFront() override
    {
        mDialog->raise();
        mDialog->activateWindow();
    }

    ButtonDialog& dialog() { return *mDialog; }

private:
    ButtonDialog* mDialog;
};

std::unique_ptr<QtButtonDialogView<ui::MissingFolderView>> newMissingFolderView(QWidget* parent);
std::unique_ptr<QtButtonDialogView<ui::UnlinkView>> newUnlinkView(QWidget* parent);
} // namespace dwl::qt
