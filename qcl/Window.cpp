#include "qcl/Window.h"

#include "compat/LastError.h"
#include "qcl/Error.h"

#include <vector>

namespace qcl
{
std::wstring getWindowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::vector<wchar_t> buffer(length < 256 ? 256 : static_cast<std::size_t>(length) + 1);
    const int copied = ::GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
    return std::wstring(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

void setWindowText(HWND window, const std::wstring& text)
{
    if (!::SetWindowTextW(window, text.c_str()))
    {
        const DWORD code = GetLastError();
        throw SystemError(L"Cannot set window text", code);
    }
}
} // namespace qcl
