#pragma once
// Sharing modes emulated with open-file-description locks, so that they hold between processes.
//
// Each open file description marks what it does and what it refuses to others with shared locks on
// single bytes near the end of the offset range, one byte per right for "has" and one for "denies".
// An open first takes its own locks and then looks for another description's lock on the opposite
// bytes. Two opens that race may both see the other and both fail; neither can succeed wrongly.

namespace compat::share
{
enum Right : unsigned
{
    Read = 1,
    Write = 2,
    Delete = 4,
};

// False when another open of the file conflicts with `rights` (what this open does) or with
// `allowed` (what it lets others do). A description that cannot carry locks (not open for reading, or
// on a file system without them) is let through. The caller closes `fd` on failure.
bool acquire(int fd, unsigned rights, unsigned allowed);
} // namespace compat::share
