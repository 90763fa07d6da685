#pragma once
// Conversions between the program's UTF-16 wide strings and QString. Both hold UTF-16 code units, so the
// units are copied one for one (QString::fromStdWString would read wchar_t as UTF-32 here).

#include <QString>

#include <string>

namespace dwl::qt
{
inline QString toQString(const std::wstring& text)
{
    QString result(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
    for (std::size_t i = 0; i < text.size(); ++i)
        result[static_cast<qsizetype>(i)] = QChar(static_cast<char16_t>(text[i]));
    return result;
}

inline std::wstring toWString(const QString& text)
{
    std::wstring result(static_cast<std::size_t>(text.size()), L'\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        result[static_cast<std::size_t>(i)] = static_cast<wchar_t>(text[i].unicode());
    return result;
}
} // namespace dwl::qt
