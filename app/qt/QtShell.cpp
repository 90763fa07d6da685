#include "app/qt/QtShell.h"

#include "app/qt/ProgramIcon.h"
#include "app/qt/Text.h"
#include "app/qt/WindowHandles.h"
#include "compat/FileNameText.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QUrl>

namespace dwl::qt
{
namespace
{
// Paths cross to Qt as the bytes the file system holds, so a name that is not valid UTF-8 survives.
QString toQtPath(const std::wstring& path)
{
    std::string bytes;
    if (!compat::utf16ToFileName(path.data(), path.data() + path.size(), bytes))
        return toQString(path);
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::wstring fromQtPath(const QString& path)
{
    return compat::fileNameToUtf16(QFile::encodeName(path).toStdString());
}

// A folder browser whose OK button follows the caller's judgement of the selected folder.
class FolderBrowser : public QFileDialog
{
public:
    FolderBrowser(QWidget* parent, const QString& title, const QString& start,
                  const std::function<bool(const std::wstring&)>& canChoose)
        : QFileDialog(parent, title, start), mCanChoose(canChoose)
    {
        setWindowIcon(programIcon());
        setOption(QFileDialog::DontUseNativeDialog); // the OK button must be reachable
        setOption(QFileDialog::ShowDirsOnly);
        setFileMode(QFileDialog::Directory);
        connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) { updateOk(path); });
        updateOk(start);
    }

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty() && mCanChoose(fromQtPath(chosen.first())))
            QFileDialog::accept();
    }

private:
    void updateOk(const QString& path)
    {
        if (auto* buttons = findChild<QDialogButtonBox*>())
            for (QAbstractButton* button : buttons->buttons())
                if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole)
                    button->setEnabled(mCanChoose(fromQtPath(path)));
    }

    std::function<bool(const std::wstring&)> mCanChoose;
};
} // namespace

bool QtShell::openUrl(const std::string& url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
}

bool QtShell::openFolder(const std::wstring& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(toQtPath(path)));
}

std::optional<std::wstring>
QtShell::browseForFolder(HWND owner, const std::wstring& title, const std::wstring& startFolder,
                         const std::function<bool(const std::wstring&)>& canChoose)
{
    FolderBrowser browser(widgetOf(owner), toQString(title), toQtPath(startFolder), canChoose);
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty())
        return std::nullopt;
    return fromQtPath(browser.selectedFiles().first());
}
} // namespace dwl::qt
