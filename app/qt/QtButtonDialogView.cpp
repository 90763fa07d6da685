#include "app/qt/QtButtonDialogView.h"

#include "app/qt/DialogStyle.h"
#include "app/qt/WindowHandles.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace dwl::qt
{
ButtonDialog::ButtonDialog(QWidget* parent, QStyle::StandardPixmap icon, QWidget* message) : QDialog(parent)
{
    applyDialogStyle(*this);
    auto* iconLabel = new QLabel;
    iconLabel->setPixmap(QApplication::style()->standardIcon(icon).pixmap(32, 32));
    iconLabel->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* body = new QHBoxLayout;
    body->addWidget(iconLabel);
    body->addSpacing(8);
    body->addWidget(message, 1);

    mButtons = new QHBoxLayout;
    mButtons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addSpacing(8);
    layout->addLayout(mButtons);
}

void ButtonDialog::addButton(int id, const QString& text, bool isDefault)
{
    auto* button = new QPushButton(text);
    button->setDefault(isDefault);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { done(id); });
    mButtons->addWidget(button);
    setControl(id, button);
}

QWidget* ButtonDialog::control(int id) const
{
    const auto found = mControls.find(id);
    return found == mControls.end() ? nullptr : found->second;
}

template <class Interface> HWND QtButtonDialogView<Interface>::window()
{
    return handleOf(mDialog);
}

template <class Interface> HWND QtButtonDialogView<Interface>::control(int id)
{
    QWidget* widget = mDialog->control(id);
    return widget == nullptr ? nullptr : handleOf(widget);
}

template class QtButtonDialogView<ui::MissingFolderView>;
template class QtButtonDialogView<ui::UnlinkView>;

std::unique_ptr<QtButtonDialogView<ui::MissingFolderView>> newMissingFolderView(QWidget* parent)
{
    using View = ui::MissingFolderView;
    auto* message = new QPlainTextEdit;
    message->setReadOnly(true); // plain text: the folder's name is shown as it is
    message->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    message->setMinimumSize(440, 170);
    auto* dialog = new ButtonDialog(parent, QStyle::SP_MessageBoxCritical, message);
    dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog->setControl(View::MessageText, message);
    dialog->addButton(View::RetryButton, QObject::tr("&Retry"), true);
    dialog->addButton(View::UnlinkButton, QObject::tr("&Unlink"), false);
    dialog->addButton(View::ExitButton, QObject::tr("E&xit"), false);
    dialog->control(View::RetryButton)->setFocus();
    return std::make_unique<QtButtonDialogView<View>>(dialog);
}

std::unique_ptr<QtButtonDialogView<ui::UnlinkView>> newUnlinkView(QWidget* parent)
{
    using View = ui::UnlinkView;
    auto* message = new QLabel(QObject::tr(
        "This will unlink the Wayfold folder from your Quillmere Wayfold account.\n\nAny changes you make "
        "to the Wayfold folder will not be reflected in Quillmere Wayfold.\n\nSelect Unlink to continue."));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setMinimumWidth(380);
    auto* dialog = new ButtonDialog(parent, QStyle::SP_MessageBoxWarning, message);
    dialog->setControl(View::MessageText, message);
    dialog->addButton(View::UnlinkButton, QObject::tr("&Unlink"), true);
    dialog->addButton(View::CancelButton, QObject::tr("&Cancel"), false);
    dialog->control(View::UnlinkButton)->setFocus();
    return std::make_unique<QtButtonDialogView<View>>(dialog);
}
} // namespace dwl::qt
