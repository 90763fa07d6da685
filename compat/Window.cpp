#include "compat/LastError.h"
#include "compat/WindowApi.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>

namespace
{
struct Windows
{
    std::mutex mutex;
    std::map<HWND, std::shared_ptr<compat::WindowText>> windows;
    std::uintptr_t next = 0x10;
};

Windows& windows()
{
    static Windows instance;
    return instance;
}

std::shared_ptr<compat::WindowText> find(HWND window)
{
    Windows& w = windows();
    std::lock_guard lock(w.mutex);
    const auto found = w.windows.find(window);
    if (found == w.windows.end())
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return found->second;
}
} // namespace

int GetWindowTextLengthW(HWND window)
{
    const auto found = find(window);
    return found ? static_cast<int>(found->text().size()) : 0;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int maxCount)
{
    const auto found = find(window);
    if (!found)
        return 0;
    if (buffer == nullptr || maxCount <= 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::wstring text = found->text();
    const auto length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(maxCount) - 1);
    std::copy_n(text.begin(), length, buffer);
    buffer[length] = 0;
    return static_cast<int>(length);
}

BOOL SetWindowTextW(HWND window, LPCWSTR text)
{
    const auto found = find(window);
    if (!found)
        return FALSE;
    found->setText(text == nullptr ? std::wstring() : std::wstring(text));
    return TRUE;
}

namespace compat
{
HWND insertWindow(std::shared_ptr<WindowText> window)
{
    Windows& w = windows();
    std::lock_guard lock(w.mutex);
    const HWND handle = reinterpret_cast<HWND>(w.next);
    w.next += 4;
    w.windows.emplace(handle, std::move(window));
    return handle;
}

void removeWindow(HWND window)
{
    Windows& w = windows();
    std::lock_guard lock(w.mutex);
    w.windows.erase(window);
}
} // namespace compat
