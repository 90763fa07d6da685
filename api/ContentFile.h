#pragma once
// The caller's open file as the source of an upload and the target of a download.

#include "compat/Types.h"
#include "url/Session.h"

#include <cstdint>

namespace dwl
{
// Reads at most size bytes of the file from its start, counting the bytes read. The limit keeps a file that
// grows during the upload from sending more than the length announced to the server. Seeking goes back so
// that the request can be sent again.
class FileReader : public url::Session::IReader
{
public:
    FileReader(HANDLE file, std::uint64_t size, std::uint64_t* bytesRead)
        : mFile(file), mSize(size), mRemaining(size), mBytesRead(bytesRead)
    {
    }
    std::size_t read(char* buffer, std::size_t size) override;
    bool seek(std::uint64_t offset) override;

private:
    HANDLE mFile;
    std::uint64_t mSize;
    std::uint64_t mRemaining;
    std::uint64_t* mBytesRead;
};

// Writes each block at the file's current position, counting the bytes written.
class FileWriter
{
public:
    FileWriter(HANDLE file, std::uint64_t* bytesWritten) : mFile(file), mBytesWritten(bytesWritten) {}
    void operator()(const char* data, std::size_t size) const;

private:
    HANDLE mFile;
    std::uint64_t* mBytesWritten;
};

// Positions the file at its start; returns its size.
std::uint64_t rewindFile(HANDLE file);
} // namespace dwl
