#include "app/qt/QtMessageBox.h"

#include "app/qt/ProgramIcon.h"
#include "app/qt/Text.h"
#include "app/qt/WindowHandles.h"

#include <QMessageBox>

namespace dwl::qt
{
namespace
{
QMessageBox::Icon iconOf(unsigned flags)
{
    switch (flags & 0xF0)
    {
    case ui::MB_ICONERROR:
        return QMessageBox::Critical;
    case ui::MB_ICONQUESTION:
        return QMessageBox::Question;
    case ui::MB_ICONWARNING:
        return QMessageBox::Warning;
    case ui::MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int resultOf(int button)
{
    switch (button)
    {
    case QMessageBox::Cancel:
        return ui::IDCANCEL;
    case QMessageBox::Yes:
        return ui::IDYES;
    case QMessageBox::No:
        return ui::IDNO;
    default:
        return ui::IDOK;
    }
}
} // namespace

std::wstring withQtLineBreaks(const std::wstring& text)
{
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n'))
            result += text[i];
    return result;
}

int QtMessageBox::show(HWND owner, const std::wstring& text, const std::wstring& caption, unsigned flags)
{
    QMessageBox box(widgetOf(owner));
    box.setWindowTitle(toQString(caption));
    box.setWindowIcon(programIcon());
    box.setIcon(iconOf(flags));
    box.setTextFormat(Qt::PlainText); // server and file names are never markup
    box.setText(toQString(withQtLineBreaks(text)));
    switch (flags & 0xF)
    {
    case ui::MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case ui::MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    if (flags & ui::MB_SYSTEMMODAL)
    {
        box.setWindowModality(Qt::ApplicationModal);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    return resultOf(box.exec());
}
} // namespace dwl::qt
