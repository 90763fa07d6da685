#include "qtl/win32/win32FileFunctions.h"

#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/Path.h"

#include <cstdio>
#include <mutex>
#include <random>

namespace win32
{
void deleteFile(const std::wstring& path)
{
    if (!DeleteFileW(qcl::path::withLongPathPrefix(path, MAX_PATH).c_str()))
        throw qcl::SystemError(qcl::format(L"Cannot delete '%1%'", path), GetLastError());
}

bool deleteFile(const std::wstring& path, std::error_code& error)
{
    if (DeleteFileW(qcl::path::withLongPathPrefix(path, MAX_PATH).c_str()))
        return true;
    error.assign(static_cast<int>(GetLastError()), qcl::windowsCategory());
    return false;
}

void moveFile(const std::wstring& source, const std::wstring& target)
{
    if (!MoveFileW(qcl::path::withLongPathPrefix(source, MAX_PATH).c_str(),
                   qcl::path::withLongPathPrefix(target, MAX_PATH).c_str()))
        throw qcl::SystemError(qcl::format(L"Cannot move '%1%' to '%2%'", source, target), GetLastError());
}

DWORD getFileAttributes(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(qcl::path::toLongPath(path, MAX_PATH).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw qcl::SystemError(L"Cannot get attributes of '" + path + L"'", GetLastError());
    return attributes;
}

void setFileAttributes(const std::wstring& path, DWORD attributes)
{
    if (!SetFileAttributesW(qcl::path::toLongPath(path, MAX_PATH).c_str(), attributes))
        throw qcl::SystemError(L"Cannot set attributes of '" + path + L"'", GetLastError());
}

void tempPath(std::wstring& path)
{
    // A temporary-files directory longer than the first buffer gets a buffer of the size the call asks for.
    std::wstring buffer(MAX_PATH + 1, L'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length > buffer.size())
    {
        buffer.assign(length, L'\0');
        length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0 || length > buffer.size())
        throw qcl::SystemError(L"Cannot get path of directory designated for temporary files", GetLastError());
    buffer.resize(length);
    path = std::move(buffer);
}

std::wstring tempPath()
{
    std::wstring path;
    tempPath(path);
    return path;
}

std::wstring createTemporaryDirectory()
{
    std::wstring base = tempPath();
    if (base.empty() || base.back() != L'/')
        base += L'/';

    static std::mutex randomMutex;
    static std::random_device* random = nullptr;
    std::uint32_t start;
    {
        std::lock_guard lock(randomMutex);
        if (random == nullptr)
            random = new std::random_device;
        start = (*random)();
    }

    std::uint32_t counter = start;
    for (;;)
    {
        wchar_t digits[9];
        std::swprintf(digits, 9, L"%08x", counter);
        const std::wstring candidate = base + digits;
        std::error_code error;
        if (qcl::file::createDirectories(candidate, error, false, nullptr))
            return candidate + L'/';
        if (error.value() != static_cast<int>(ERROR_ALREADY_EXISTS) || ++counter == start)
            throw qcl::SystemError(qcl::format(L"Cannot create directory '%1%'", candidate), error);
    }
}
} // namespace win32
