#include "api/ContentFile.h"

#include "qcl/File.h"

#include <algorithm>
#include <limits>

namespace dwl
{
std::size_t FileReader::read(char* buffer, std::size_t size)
{
    const auto chunk = static_cast<DWORD>(
        std::min<std::uint64_t>({size, mRemaining, std::numeric_limits<DWORD>::max()}));
    const DWORD n = chunk == 0 ? 0 : qcl::File::read(mFile, buffer, chunk);
    mRemaining -= n;
    if (mBytesRead)
        *mBytesRead += n;
    return n;
}

bool FileReader::seek(std::uint64_t offset)
{
    if (offset > mSize)
        return false;
    qcl::File::seek(mFile, static_cast<std::int64_t>(offset), FILE_BEGIN);
    if (mBytesRead)
        *mBytesRead = *mBytesRead - (mSize - mRemaining) + offset;
    mRemaining = mSize - offset;
    return true;
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
