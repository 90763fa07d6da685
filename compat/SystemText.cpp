#include "compat/SystemText.h"

#include "compat/LastError.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace
{
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

struct Entry
{
    DWORD code;
    const char* text;
};

// ASCII only, so the units are the characters.
constexpr Entry kTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33, "The process cannot access the file because another process has locked a portion of the file."},
    {38, "Reached the end of the file."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1142, "An attempt was made to create more links on a file than the file system supports."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
    {1307, "This security ID may not be assigned as the owner of this object."},
    {1400, "Invalid window handle."},
    {1460, "This operation returned because the timeout period expired."},
    {1814, "The specified resource name cannot be found in the image file."},
    {1920, "The file cannot be accessed by the system."},
    {1921, "The name of the file cannot be resolved by the system."},
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x8007000Eu, "Not enough memory resources are available to complete this operation."},
    {0x80070057u, "The parameter is incorrect."},
};

struct Table
{
    std::mutex mutex;
    std::map<DWORD, std::wstring> texts;

    Table()
    {
        for (const auto& entry : kTexts)
        {
            std::wstring text(entry.text, entry.text + std::strlen(entry.text));
            texts.emplace(entry.code, text + L"\r\n");
        }
    }
};

Table& table()
{
    static Table instance;
    return instance;
}
} // namespace

DWORD FormatMessageW(DWORD flags, const void*, DWORD messageId, DWORD, wchar_t* buffer, DWORD size, void*)
{
    std::wstring text;
    {
        auto& t = table();
        std::lock_guard lock(t.mutex);
        const auto found = t.texts.find(messageId);
        if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || found == t.texts.end())
        {
            SetLastError(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
        text = found->second;
    }
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER)
    {
        auto* allocated = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
        if (allocated == nullptr)
        {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(allocated, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        *reinterpret_cast<wchar_t**>(buffer) = allocated;
        return static_cast<DWORD>(text.size());
    }
    if (buffer == nullptr || text.size() + 1 > size)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL memory)
{
    std::free(memory);
    return nullptr;
}

namespace compat
{
void setSystemTextForTesting(DWORD code, const std::wstring& text)
{
    auto& t = table();
    std::lock_guard lock(t.mutex);
    t.texts[code] = text;
}
} // namespace compat
