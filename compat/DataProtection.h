#pragma once
// Protection of small secrets for the current user, shaped like the platform's CryptProtectData and
// CryptUnprotectData. The data is sealed with AES-256-GCM under a key that belongs to the user alone: 32
// random bytes kept in a file of mode 0600 in the user's data folder, apart from any file that stores
// protected data. The user id and the caller's optional entropy are bound in as additional authenticated
// data, so a blob protected for another user, under another key or with other entropy does not unprotect.

#include "compat/Types.h"

#include <string>

struct DATA_BLOB
{
    DWORD cbData;
    BYTE* pbData;
};

struct CRYPTPROTECT_PROMPTSTRUCT;

// On success the output blob is allocated for the caller; release it with LocalFree. On failure the output
// blob is left empty and the last error is set.
BOOL CryptProtectData(DATA_BLOB* dataIn, LPCWSTR description, DATA_BLOB* optionalEntropy, void* reserved,
                      CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* dataOut);
BOOL CryptUnprotectData(DATA_BLOB* dataIn, LPWSTR* description, DATA_BLOB* optionalEntropy, void* reserved,
                        CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* dataOut);

namespace compat
{

// The key file in use: the override when one is set, otherwise "quillmere/DataProtection/UserKey" in the
// user's data folder ($XDG_DATA_HOME, else ~/.local/share). Empty when no home folder is known.
std::string dataProtectionKeyFile();

// Tests point the key elsewhere; an empty path returns to the default location.
void setDataProtectionKeyFile(const std::string& path);

} // namespace compat
