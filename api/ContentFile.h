#pragma once
// The caller's open file as the source of an upload and the target of a download.

#include "compat/Types.h"
#include "url/Session.h"

#include <cstdint>

namespace dwl
{
// Reads at most size bytes of the file from its position, counting the bytes read. The limit keeps a file
// that grows during the upload from sending more than the length announced to the server.
class FileReader : public url::Session::IReader
{
public:
    FileReader(HANDLE file, std::uint64_t size, std::uint64_t* bytesRead)
        : mFile(file), mRemaining(size), mBytesRead(bytesRead)
    {
    }
    std::size_t read(char* buffer, std::size_t size) override;

private:
    HANDLE mFile;
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

// Compares each block with the file's next bytes, counting the bytes that matched; throws Differs at the first
// difference, also at bytes the file does not have.
class FileComparer
{
public:
    struct Differs
    {
    };
    FileComparer(HANDLE file, std::uint64_t* bytesCompared) : mFile(file), mBytesCompared(bytesCompared) {}
    void operator()(const char* data, std::size_t size) const;

private:
    HANDLE mFile;
    std::uint64_t* mBytesCompared;
};

// Positions the file at its start; returns its size.
std::uint64_t rewindFile(HANDLE file);
} // namespace dwl
