#pragma once
// Windows-shaped window handles and window texts. The user-interface toolkit registers each window (a
// dialog, or one of its controls) that the application code reads or writes by handle; the handle stays
// valid until the toolkit removes it.

#include "compat/Types.h"

#include <memory>
#include <string>

struct HWND__;
using HWND = HWND__*;

inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// The length of the window's text in UTF-16 units; 0 with ERROR_INVALID_WINDOW_HANDLE for an unknown handle.
int GetWindowTextLengthW(HWND window);
// Copies the text, cut to `maxCount` - 1 units, and returns the length copied.
int GetWindowTextW(HWND window, LPWSTR buffer, int maxCount);
BOOL SetWindowTextW(HWND window, LPCWSTR text);

namespace compat
{
// What a registered window does with its text; called on the thread that calls the window functions.
class WindowText
{
public:
    virtual ~WindowText() = default;
    virtual std::wstring text() const = 0;
    virtual void setText(const std::wstring& text) = 0;
};

// Never null; removing the handle ends its validity.
HWND insertWindow(std::shared_ptr<WindowText> window);
void removeWindow(HWND window);
} // namespace compat
