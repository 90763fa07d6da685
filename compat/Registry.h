#pragma once
// The registry, Windows-shaped, over INI files: one file for the current user
// ($XDG_CONFIG_HOME/quillmere/registry.ini, default ~/.config/quillmere/registry.ini) and one for the
// machine (/etc/quillmere/registry.ini). The environment variables QUILLMERE_USER_REGISTRY and
// QUILLMERE_MACHINE_REGISTRY name other files (tests use them).
//
// A section is a key path below the root, a line "name=text" a string value (REG_SZ):
//
//     [SOFTWARE\Quillmere\Logging\Wayfold]
//     CfgSourceDir=/opt/wayfold
//
// Key paths and value names compare without regard to ASCII case, as the registry does. Lines
// starting with ";" or "#" are comments. The files are read when a key is opened.

#include "compat/Types.h"

#include <map>
#include <string>

struct RegistryKey;
using HKEY = RegistryKey*;
using LSTATUS = LONG;
using REGSAM = DWORD;

inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t(0x80000001));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t(0x80000002));

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;

inline constexpr DWORD ERROR_MORE_DATA = 234;

// Opens `subKey` below `root` (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE) for reading. A key exists when
// its file holds its section. ERROR_FILE_NOT_FOUND when it does not; ERROR_INVALID_PARAMETER for
// another root, a null sub-key or a null result.
LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, HKEY* result);

// Reads the value `valueName` of an open key. String data is the UTF-16 text with its terminating
// zero, one wchar_t per unit, and `dataSize` counts bytes (units times sizeof(wchar_t)). With null
// `data` only the type and size are returned; with too small a buffer, ERROR_MORE_DATA and the size
// needed. ERROR_FILE_NOT_FOUND when the key has no such value.
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);

LSTATUS RegCloseKey(HKEY key);

namespace compat
{
// The keys of one registry file: upper-cased key path -> upper-cased value name -> (name, text).
using RegistryValues = std::map<std::wstring, std::wstring>;
using RegistryKeys = std::map<std::wstring, RegistryValues>;

// Parses the text of a registry file (UTF-8). Never throws on malformed text: lines that are neither a
// section, a value nor a comment are skipped, and values before the first section are ignored.
RegistryKeys parseRegistryFile(const std::string& text);

// The file that holds `root`, as the environment names it now.
std::string registryFilePath(HKEY root);
} // namespace compat
