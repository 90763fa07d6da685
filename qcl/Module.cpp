#include "qcl/Module.h"

#include "compat/FileApi.h"
#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <sstream>
#include <vector>

namespace qcl
{
std::wstring getModuleFileName()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    while (true)
    {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
        {
            const DWORD code = GetLastError();
            throw SystemError(L"Cannot get the path of the program file", code);
        }
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

namespace
{
// A module handle is an address: all of it in upper-case hexadecimal, at least 8 digits.
std::wstring moduleText(HINSTANCE module)
{
    std::wostringstream text;
    text << std::hex << std::uppercase << std::setw(8) << std::setfill(L'0')
         << reinterpret_cast<std::uintptr_t>(module);
    return text.str();
}
} // namespace

std::wstring loadString(HINSTANCE module, UINT id)
{
    std::vector<wchar_t> buffer(256);
    while (true)
    {
        const int length = ::LoadStringW(module, id, buffer.data(), static_cast<int>(buffer.size()));
        if (length == 0)
        {
            const DWORD code = GetLastError();
            throw SystemError(format(L"Cannot load string with ID %1% from module 0x%2%", id, moduleText(module)),
                              code);
        }
        if (static_cast<std::size_t>(length) + 1 < buffer.size())
            return std::wstring(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring loadString(UINT id)
{
    return loadString(::GetModuleHandleW(nullptr), id);
}
} // namespace qcl

namespace
{
bool sameNameIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](wchar_t x, wchar_t y) { return lower(x) == lower(y); });
}
} // namespace

HModule::~HModule()
{
    release();
}

void HModule::release()
{
    if (mModule != nullptr && !::FreeLibrary(mModule))
        mLastError = GetLastError();
    mModule = nullptr;
    mName.clear();
}

bool HModule::Load(const wchar_t* name)
{
    if (name == nullptr)
        throw std::runtime_error("Invalid library name in HModule::Load()");
    if (mModule != nullptr && !sameNameIgnoringCase(mName, name))
        release();
    if (mModule == nullptr)
    {
        mModule = ::LoadLibraryW(name);
        if (mModule == nullptr)
        {
            mLastError = GetLastError();
            return false;
        }
        mName = name;
    }
    return true;
}

FARPROC HModule::getProcAddress(const char* procedureName)
{
    FARPROC address = mModule == nullptr ? nullptr : ::GetProcAddress(mModule, procedureName);
    if (address == nullptr)
        throw std::runtime_error("Failed to GetProcAddress");
    return address;
}
