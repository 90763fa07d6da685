#include "api/ContentFile.h"

#include "qcl/File.h"

#include <algorithm>
#include <limits>
#include <string>

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

void FileWriter::operator()(const char* data, std::size_t size) const
{
    qcl::File::write(mFile, data, size);
    if (mBytesWritten)
        *mBytesWritten += size;
}

void FileComparer::operator()(const char* data, std::size_t size) const
{
    std::string own(size, '\0');
    std::size_t read = 0;
    while (read < size)
    {
        const DWORD n = qcl::File::read(mFile, own.data() + read,
                                        static_cast<DWORD>(std::min<std::size_t>(size - read, 1 << 20)));
        if (n == 0)
            throw Differs();
        read += n;
    }
    if (own.compare(0, size, data, size) != 0)
        throw Differs();
    *mBytesCompared += size;
}

std::uint64_t rewindFile(HANDLE file)
{
    qcl::File::seek(file, 0, FILE_BEGIN);
    return static_cast<std::uint64_t>(qcl::File::getSize(file));
}
} // namespace dwl
