#include "qcl/LocalFileOperations.h"

#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/LocalFileNames.h"
#include "qcl/Path.h"

namespace dwl
{
namespace
{
// Paths from this many units on are given the long form; creating a directory needs room for a short name more.
constexpr std::size_t longPathThreshold = 260;
constexpr std::size_t longDirectoryPathThreshold = 248;
constexpr std::size_t maxPathLength = 32767;

void appendSeparator(std::wstring& parent)
{
    if (!parent.empty() && parent.back() != L'/')
        parent += L'/';
}

// A failure with `existsCode`, or access denied where something exists, means the name is taken.
bool isCollision(DWORD code, DWORD existsCode, const std::wstring& target)
{
    if (code == existsCode)
        return true;
    return code == ERROR_ACCESS_DENIED &&
           GetFileAttributesW(qcl::path::toLongPath(target, longPathThreshold).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Tries the candidate names of `name` in `parent` until `attempt` succeeds (true) or fails with an error that is
// not a collision (false). Returns the name and the target path of the last attempt and its error code.
template <class Candidate, class Attempt>
bool tryFreeNames(const std::wstring& parent, const std::wstring& name, DWORD existsCode, Candidate candidate,
                  Attempt attempt, std::wstring& freeName, std::wstring& target, DWORD& code)
{
    for (int n = 1; n <= maxCollisionAttempts; ++n)
    {
        freeName = candidate(name, static_cast<std::uint64_t>(n));
        target = parent + freeName;
        code = attempt(target);
        if (code == ERROR_SUCCESS)
            return true;
        if (!isCollision(code, existsCode, target))
            return false;
    }
    return false;
}

std::wstring moveUnderFreeName(const std::wstring& source, std::wstring parent, const std::wstring& name,
                               std::wstring (*candidate)(const std::wstring&, std::uint64_t), const wchar_t* message)
{
    appendSeparator(parent);
    std::wstring freeName, target;
    DWORD code = ERROR_SUCCESS;
    const std::wstring longSource = qcl::path::toLongPath(source, longPathThreshold);
    const auto move = [&](const std::wstring& targetPath) -> DWORD {
        // Already there under this name: moving onto itself changes nothing and must not pick another name.
        if (targetPath == source)
            return ERROR_SUCCESS;
        return MoveFileW(longSource.c_str(), qcl::path::toLongPath(targetPath, longPathThreshold).c_str())
                   ? ERROR_SUCCESS
                   : GetLastError();
    };
    if (!tryFreeNames(parent, name, ERROR_ALREADY_EXISTS, candidate, move, freeName, target, code))
        throw qcl::SystemError(qcl::format(message, source, target), code);
    return freeName;
}
} // namespace

std::wstring createDirectory(std::wstring parent, const std::wstring& name, SECURITY_ATTRIBUTES* security)
{
    appendSeparator(parent);
    std::wstring freeName, target;
    DWORD code = ERROR_SUCCESS;
    const auto create = [&](const std::wstring& targetPath) -> DWORD {
        if (targetPath.size() >= maxPathLength)
            throw qcl::SystemError(qcl::format(L"Cannot create directory (name too long) '%1%'", targetPath),
                                   ERROR_INVALID_DATA);
        return CreateDirectoryW(qcl::path::withLongPathPrefix(targetPath, longDirectoryPathThreshold).c_str(),
                                security)
                   ? ERROR_SUCCESS
                   : GetLastError();
    };
    if (!tryFreeNames(parent, name, ERROR_ALREADY_EXISTS, directoryCandidateName, create, freeName, target, code))
        throw qcl::SystemError(qcl::format(L"Cannot create directory '%1%'", target), code);
    return freeName;
}

std::wstring createUniqueFile(qcl::Handle& file, std::wstring parent, const std::wstring& name, DWORD desiredAccess,
                              DWORD shareMode, DWORD flagsAndAttributes, SECURITY_ATTRIBUTES* security,
                              HANDLE templateFile)
{
    appendSeparator(parent);
    std::wstring freeName, target;
    DWORD code = ERROR_SUCCESS;
    const auto create = [&](const std::wstring& targetPath) -> DWORD {
        std::error_code error;
        qcl::Handle created = qcl::file::open(targetPath, desiredAccess, shareMode, security, CREATE_NEW,
                                              flagsAndAttributes, templateFile, error);
        if (error)
            return static_cast<DWORD>(error.value());
        file = std::move(created);
        return ERROR_SUCCESS;
    };
    if (!tryFreeNames(parent, name, ERROR_FILE_EXISTS, fileCandidateName, create, freeName, target, code))
        throw qcl::SystemError(qcl::format(L"Cannot create file '%1%'", target), code);
    return freeName;
}

std::wstring moveDirectory(const std::wstring& source, std::wstring parent, const std::wstring& name)
{
    return moveUnderFreeName(source, std::move(parent), name, directoryCandidateName,
                             L"Cannot move directory '%1%' to '%2%'");
}

std::wstring moveFile(const std::wstring& source, std::wstring parent, const std::wstring& name)
{
    return moveUnderFreeName(source, std::move(parent), name, fileCandidateName, L"Cannot move file '%1%' to '%2%'");
}

void deleteFileOrDirectory(const std::wstring& path, FILEOP_FLAGS flags, HWND window)
{
    shellFileOperation(path, std::wstring(), FO_DELETE, flags, window);
}

void shellFileOperation(const std::wstring& from, const std::wstring& to, UINT operation, FILEOP_FLAGS flags,
                        HWND window)
{
    // Each path becomes a list of one: without trailing separators, ended by two NUL units.
    const auto asList = [](std::wstring path) {
        while (path.size() > 1 && path.back() == L'/')
            path.pop_back();
        if (!path.empty())
            path.push_back(L'\0');
        return path;
    };
    const std::wstring fromList = asList(from);
    const std::wstring toList = asList(to);

    SHFILEOPSTRUCTW request{};
    request.hwnd = window;
    request.wFunc = operation;
    request.pFrom = fromList.c_str();
    request.pTo = toList.c_str();
    request.fFlags = flags;
    const int result = SHFileOperationW(&request);
    if (result == 0 && !request.fAnyOperationsAborted)
        return;

    const std::wstring source = fromList.empty() ? fromList : fromList.substr(0, fromList.size() - 1);
    if (operation == FO_DELETE)
        throw qcl::basic_runtime_error<wchar_t>(qcl::format(
            L"Cannot delete '%1%' with flags 0x%2$x: SHFileOperationW returned %3%", source, flags, result));
    static const wchar_t* const words[] = {L"", L"move", L"copy", L"delete", L"rename"};
    const wchar_t* word = operation < std::size(words) ? words[operation] : L"";
    const std::wstring target = toList.empty() ? toList : toList.substr(0, toList.size() - 1);
    throw qcl::basic_runtime_error<wchar_t>(
        qcl::format(L"Cannot %1% from '%3%' to '%4%' with flags 0x%2$x: SHFileOperationW returned %5%", word, flags,
                    source, target, result));
}
} // namespace dwl
