#pragma once
// Owners of handles: qcl::Handle for files and finds (empty value INVALID_HANDLE_VALUE) and
// qcl::ZeroHandle for handles whose empty value is 0. Both treat 0 and INVALID_HANDLE_VALUE as no handle.

#include "compat/Types.h"

namespace qcl
{
inline bool isValidHandle(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

class Handle
{
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : mHandle(handle) {}
    Handle(Handle&& other) noexcept : mHandle(other.release()) {}
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }

    HANDLE get() const { return mHandle; }
    // Gives up ownership; the holder becomes empty.
    HANDLE release();
    // Closes the held handle (errors ignored) and holds `handle`.
    void reset(HANDLE handle = INVALID_HANDLE_VALUE);

    // Closes a valid handle, ignoring errors; the holder becomes empty either way.
    void close();
    // The same, but a failing close throws SystemError "Cannot close file handle %1%".
    void closeOrThrow();

    bool operator!() const { return !isValidHandle(mHandle); }
    explicit operator bool() const { return isValidHandle(mHandle); }

private:
    HANDLE mHandle = INVALID_HANDLE_VALUE;
};

class ZeroHandle
{
public:
    ZeroHandle() = default;
    explicit ZeroHandle(HANDLE handle) : mHandle(handle) {}
    ZeroHandle(ZeroHandle&& other) noexcept : mHandle(other.release()) {}
    ZeroHandle& operator=(ZeroHandle&& other) noexcept;
    ZeroHandle(const ZeroHandle&) = delete;
    ZeroHandle& operator=(const ZeroHandle&) = delete;
    ~ZeroHandle() { reset(); }

    HANDLE get() const { return mHandle; }
    HANDLE release();
    // Stores `handle`, then closes the previous one unless it was 0 or INVALID_HANDLE_VALUE.
    void reset(HANDLE handle = nullptr);

    bool operator!() const { return !isValidHandle(mHandle); }
    explicit operator bool() const { return isValidHandle(mHandle); }

private:
    HANDLE mHandle = nullptr;
};
} // namespace qcl
