#include "app/qt/WindowHandles.h"

#include "app/qt/Text.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QWidget>

#include <map>

namespace dwl::qt
{
namespace
{
class WidgetText : public compat::WindowText
{
public:
    explicit WidgetText(QWidget* widget) : mWidget(widget) {}

    std::wstring text() const override
    {
        if (mWidget.isNull())
            return {};
        if (auto* edit = qobject_cast<QLineEdit*>(mWidget))
            return toWString(edit->text());
        if (auto* label = qobject_cast<QLabel*>(mWidget))
            return toWString(label->text());
        if (auto* editor = qobject_cast<QPlainTextEdit*>(mWidget))
            return toWString(editor->toPlainText());
        if (auto* button = qobject_cast<QAbstractButton*>(mWidget))
            return toWString(button->text());
        return toWString(mWidget->windowTitle());
    }

    void setText(const std::wstring& text) override
    {
        if (mWidget.isNull())
            return;
        const QString value = toQString(text);
        if (auto* edit = qobject_cast<QLineEdit*>(mWidget))
            edit->setText(value);
        else if (auto* label = qobject_cast<QLabel*>(mWidget))
            label->setText(value);
        else if (auto* editor = qobject_cast<QPlainTextEdit*>(mWidget))
            editor->setPlainText(value);
        else if (auto* button = qobject_cast<QAbstractButton*>(mWidget))
            button->setText(value);
        else
            mWidget->setWindowTitle(value);
    }

private:
    QPointer<QWidget> mWidget;
};

std::map<HWND, QWidget*>& handles()
{
    static std::map<HWND, QWidget*> instance;
    return instance;
}

const char* const handleProperty = "wayfoldWindowHandle";
} // namespace

HWND handleOf(QWidget* widget)
{
    const QVariant known = widget->property(handleProperty);
    if (known.isValid())
        return reinterpret_cast<HWND>(known.value<quintptr>());
    const HWND handle = compat::insertWindow(std::make_shared<WidgetText>(widget));
    widget->setProperty(handleProperty, QVariant::fromValue(reinterpret_cast<quintptr>(handle)));
    handles()[handle] = widget;
    QObject::connect(widget, &QObject::destroyed,
                     [handle]
                     {
                         handles().erase(handle);
                         compat::removeWindow(handle);
                     });
    return handle;
}

QWidget* widgetOf(HWND handle)
{
    const auto found = handles().find(handle);
    return found == handles().end() ? nullptr : found->second;
}
} // namespace dwl::qt
