#include "app/qt/QtConfigurationView.h"

#include "app/qt/DialogStyle.h"
#include "app/qt/Text.h"
#include "app/qt/WindowHandles.h"
#include "qcl/Log.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace dwl::qt
{
class ConfigurationDialog : public QDialog
{
public:
    using QDialog::QDialog;
    std::function<void()> onReject;

    // Escape and the close box go the way of Exit.
    void reject() override { onReject(); }
};

namespace
{
const char* const linkTextProperty = "linkText";

// A disabled link shows its text without the link, so it looks disabled like the other controls.
void showLink(QLabel& label, bool enabled)
{
    const QString text = label.property(linkTextProperty).toString().toHtmlEscaped();
    label.setText(enabled ? QStringLiteral("<a href=\"#\">%1</a>").arg(text) : text);
}

QLabel* linkLabel(const QString& text)
{
    // Our own fixed text: the only markup is the link itself.
    auto* label = new QLabel;
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setProperty(linkTextProperty, text);
    showLink(*label, true);
    return label;
}
} // namespace

QtConfigurationView::QtConfigurationView(QWidget* parent) : mDialog(new ConfigurationDialog(parent))
{
    applyDialogStyle(*mDialog);
    mDialog->onReject = [this] { deliver([](Events& events) { events.OnCancel(); }); };

    auto* prompt = new QLabel(QObject::tr("Please enter your Quillmere Wayfold account details to login."));
    prompt->setTextFormat(Qt::PlainText);
    prompt->setWordWrap(true);
    mServers = new QComboBox;
    auto* email = new QLineEdit;
    auto* password = new QLineEdit;
    password->setEchoMode(QLineEdit::Password);
    auto* folder = new QLineEdit;
    auto* change = new QPushButton(QObject::tr("&Change..."));
    auto* signUp = linkLabel(QObject::tr("Create an account"));
    auto* forgotten = linkLabel(QObject::tr("Forgotten your password?"));
    auto* login = new QPushButton(QObject::tr("&Login"));
    auto* exit = new QPushButton(QObject::tr("E&xit"));
    login->setDefault(true);

    mControls = {{Prompt, prompt},         {ServerComboBox, mServers},         {EmailEdit, email},
                 {PasswordEdit, password}, {FolderLocationEdit, folder},       {ChangeFolderButton, change},
                 {SignUpLink, signUp},     {ForgottenPasswordLink, forgotten}, {LoginButton, login},
                 {ExitButton, exit}};

    for (const auto& [id, control] : mControls)
        control->setObjectName(QString::number(id)); // found by id in tests and by accessibility tools

    auto* form = new QGridLayout;
    const auto addRow = [&](int row, const QString& labelText, QWidget* field)
    {
        auto* label = new QLabel(labelText);
        label->setBuddy(field);
        form->addWidget(label, row, 0);
        form->addWidget(field, row, 1);
    };
    addRow(0, QObject::tr("&Site:"), mServers);
    addRow(1, QObject::tr("&Email:"), email);
    addRow(2, QObject::tr("&Password:"), password);
    addRow(3, QObject::tr("Wayfold &Folder Location:"), folder);
    form->addWidget(change, 3, 2);
    form->setColumnStretch(1, 1);
    form->setColumnMinimumWidth(1, 260);

    auto* links = new QHBoxLayout;
    links->addWidget(signUp);
    links->addSpacing(16);
    links->addWidget(forgotten);
    links->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(login);
    buttons->addWidget(exit);

    auto* layout = new QVBoxLayout(mDialog);
    layout->addWidget(prompt);
    layout->addSpacing(8);
    layout->addLayout(form);
    layout->addSpacing(8);
    layout->addLayout(links);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    QObject::connect(login, &QPushButton::clicked, mDialog,
                     [this] { deliver([](Events& e) { e.OnLogin(); }); });
    QObject::connect(exit, &QPushButton::clicked, mDialog,
                     [this] { deliver([](Events& e) { e.OnCancel(); }); });
    QObject::connect(change, &QPushButton::clicked, mDialog,
                     [this] { deliver([](Events& e) { e.OnChangeFolder(); }); });
    QObject::connect(signUp, &QLabel::linkActivated, mDialog,
                     [this] { deliver([](Events& e) { e.OnLinkClicked(SignUpLink); }); });
    QObject::connect(forgotten, &QLabel::linkActivated, mDialog,
                     [this] { deliver([](Events& e) { e.OnLinkClicked(ForgottenPasswordLink); }); });
}

QtConfigurationView::~QtConfigurationView()
{
    delete mDialog;
}

QDialog& QtConfigurationView::dialog()
{
    return *mDialog;
}

QWidget* QtConfigurationView::widget(int id) const
{
    const auto found = mControls.find(id);
    return found == mControls.end() ? nullptr : found->second;
}

HWND QtConfigurationView::window()
{
    return handleOf(mDialog);
}

HWND QtConfigurationView::control(int id)
{
    QWidget* found = widget(id);
    return found == nullptr ? nullptr : handleOf(found);
}

int QtConfigurationView::run(Events& events)
{
    mEvents = &events;
    mEnded = false;
    deliver([](Events& e) { e.OnInitDialog(); });
    if (!mEnded)
        mDialog->exec();
    mEvents = nullptr;
    return mResult;
}

void QtConfigurationView::end(int result)
{
    mEnded = true;
    mResult = result;
    mDialog->done(result);
}

void QtConfigurationView::addServer(const std::wstring& displayName)
{
    mServers->addItem(toQString(displayName)); // item texts are never markup
}

void QtConfigurationView::selectServer(int index)
{
    mServers->setCurrentIndex(index);
}

int QtConfigurationView::selectedServer()
{
    return mServers->currentIndex();
}

void QtConfigurationView::setEnabled(int id, bool enabled)
{
    QWidget* found = widget(id);
    if (found == nullptr)
        return;
    found->setEnabled(enabled);
    if (id == SignUpLink || id == ForgottenPasswordLink)
        showLink(*static_cast<QLabel*>(found), enabled);
}

void QtConfigurationView::setFocus(int id, bool selectAll)
{
    QWidget* found = widget(id);
    if (found == nullptr)
        return;
    found->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(found); edit != nullptr && selectAll)
        edit->selectAll();
}

void QtConfigurationView::setDefaultButton(int id)
{
    for (const int button : {LoginButton, ExitButton, ChangeFolderButton})
        static_cast<QPushButton*>(widget(button))->setDefault(button == id);
}

void QtConfigurationView::postPingEnded()
{
    QMetaObject::invokeMethod(
        mDialog,
        [this]
        {
            if (!mEnded)
                deliver([](Events& e) { e.OnPingEnded(); });
        },
        Qt::QueuedConnection);
}

void QtConfigurationView::deliver(const std::function<void(Events&)>& call)
{
    if (mEvents == nullptr)
        return;
    try
    {
        call(*mEvents);
    }
    catch (const std::exception& e)
    {
        QCL_LOG_ERROR(L"Unhandled exception in the configuration dialog: "
                      << qcl::string::escaped(std::string(e.what())));
    }
}
} // namespace dwl::qt
