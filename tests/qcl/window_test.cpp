#include "qcl/Error.h"
#include "qcl/Window.h"

#include <gtest/gtest.h>

namespace
{
struct Text : compat::WindowText
{
    std::wstring value;
    std::wstring text() const override { return value; }
    void setText(const std::wstring& text) override { value = text; }
};

TEST(WindowText, RoundTripsTextsOfAnyLength)
{
    const HWND window = compat::insertWindow(std::make_shared<Text>());
    for (const std::wstring& text : {std::wstring(), std::wstring(255, L'a'), std::wstring(256, L'b'),
                                     std::wstring(1000, L'c') + L"\xD83D\xDE00"})
    {
        qcl::setWindowText(window, text);
        EXPECT_EQ(text, qcl::getWindowText(window));
    }
    compat::removeWindow(window);
}

TEST(WindowText, AnUnknownWindowHasNoTextAndCannotBeSet)
{
    const HWND window = compat::insertWindow(std::make_shared<Text>());
    compat::removeWindow(window);
    EXPECT_EQ(L"", qcl::getWindowText(window));
    try
    {
        qcl::setWindowText(window, L"x");
        FAIL() << "no exception";
    }
    catch (const qcl::SystemError& e)
    {
        EXPECT_EQ(1400, e.code().value());
        EXPECT_EQ(0u, e.message().find(L"Cannot set window text: Windows error 1400"));
    }
}
} // namespace
