#include "api/ContentFile.h"

#include <algorithm>
#include <limits>

// Until the file functions of the foundation are in, transfers report that they cannot reach the file.
#if __has_include("qcl/File.h")
#include "qcl/File.h"
#else
#include "qcl/Error.h"
namespace qcl
{
struct File
{
    [[noreturn]] static DWORD read(HANDLE, void*, DWORD) { unavailable(); }
    [[noreturn]] static void write(HANDLE, const void*, std::size_t) { unavailable(); }
    [[noreturn]] static std::int64_t seek(HANDLE, std::int64_t, DWORD) { unavailable(); }
    [[noreturn]] static std::int64_t getSize(HANDLE) { unavailable(); }
    [[noreturn]] static void unavailable() { throw basic_runtime_error<wchar_t>(L"File access is not built yet"); }
};
} // namespace qcl
#ifndef FILE_BEGIN
#define FILE_BEGIN 0
#endif
#endif

namespace dwl
{
std::size_t FileReader::read(char* buffer, std::size_t size)
{
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
    const DWORD n = qcl::File::read(mFile, buffer, chunk);
    if (mBytesRead)
        *mBytesRead += n;
    return n;
}

void FileWriter::operator()(const char* data, std::size_t size) const
{
    qcl::File::write(mFile, data, size);
    if (mBytesWritten)
        *mBytesWritten += size;
}

std::uint64_t rewindFile(HANDLE file)
{
    qcl::File::seek(file, 0, FILE_BEGIN);
    return static_cast<std::uint64_t>(qcl::File::getSize(file));
}
} // namespace dwl
