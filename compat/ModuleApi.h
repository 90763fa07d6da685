#pragma once
// Windows-shaped calls on modules (the program and shared libraries) over dlopen/dlsym, and string
// resources from a table that each module registers for itself.
//
// A module handle is the dlopen handle of the module; the program's own handle is that of
// dlopen(nullptr).

#include "compat/Types.h"

#include <initializer_list>

using UINT = unsigned int;
using HINSTANCE = HMODULE;
using FARPROC = void*;

// A null module means the program file. Fills `buffer` with the full path; a path that does not fit is
// cut, the result is `size` and the last error ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
// Only the program's own module (null name) or a library that is already loaded; adds no reference.
HMODULE GetModuleHandleW(LPCWSTR moduleName);
// Failure sets ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryW(LPCWSTR fileName);
BOOL FreeLibrary(HMODULE module);
// Failure sets ERROR_PROC_NOT_FOUND.
FARPROC GetProcAddress(HMODULE module, const char* procName);

// Copies the string `id` of the module's table (null: the program's) into `buffer`, cut to
// `bufferMax` - 1 units, and returns its length; with `bufferMax` 0 `buffer` receives a pointer to the
// text instead. 0 with the last error ERROR_RESOURCE_NAME_NOT_FOUND (1814) when there is no such string.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);

namespace compat
{
struct StringResource
{
    UINT id;
    const wchar_t* text; // UTF-16 units
};

// The module that holds `address` (a function or object of that module).
HMODULE moduleOfAddress(const void* address);

// Adds the strings to the module's table; a later string with the same id replaces the earlier one.
void registerStrings(HMODULE module, std::initializer_list<StringResource> strings);
} // namespace compat
