#pragma once
// The user's settings and the file "Configuration" that keeps them: one "key: JSON value" line a setting,
// after a UTF-8 byte-order mark. The password is kept in clear only in memory; the file holds its protected
// form.

#include "app/Version.h"
#include "qcl/Uint128.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace json_spirit
{
class Value;
}

namespace dwl
{
struct Configuration
{
    static constexpr std::uint64_t defaultRescanIntervalInSeconds = 600;

    Version version;
    std::wstring wayfoldFolderLocation; // the parent folder of the Wayfold folder
    std::wstring userName;
    qcl::uint128 userId;
    qcl::uint128 deviceId; // nil until the server registers this computer
    std::wstring password;
    std::string proxy;   // as libcurl takes it; empty for none
    std::wstring server; // the key of the chosen server in the server list
    std::uint64_t rescanIntervalInSeconds = defaultRescanIntervalInSeconds;
    bool mustShowConfigurationDialog = true;
    bool mustMonitorFolder = true;
    std::optional<std::vector<std::wstring>> documentBlackList; // present: replaces the server list's
    std::optional<std::vector<std::wstring>> folderBlackList;

    // A record with every default; the Wayfold folder's parent is the user's profile folder.
    static Configuration withDefaults();

    // Fills `record` from the file, key by key. A missing or malformed file, a value of the wrong kind or a
    // password that does not unprotect throws; the fields read before the failing key keep their values, the
    // rest keep what they held.
    static void load(Configuration& record, const std::wstring& path);

    // The same over the file's parsed members.
    static void read(Configuration& record, const json_spirit::Value& members);

    // Replaces the file as a whole: written beside it, flushed to disk and renamed over it (mode 0600), so a
    // failed save leaves the previous file as it was. Throws qcl::basic_runtime_error<wchar_t> "Cannot save
    // configuration file '%1%': ..." and the password protection's errors.
    static void save(const Configuration& record, const std::wstring& path);

    // The file's text, as save writes it.
    static std::string toText(const Configuration& record);

    friend bool operator==(const Configuration&, const Configuration&) = default;
};

// Whether `configuration` is signed in to `server` as `userName` (the same e-mail address in any letter case)
// with its Wayfold folder in `folderLocation`: a sign-in that the folder and its picture go on with.
bool isSameAccountAndFolder(const Configuration& configuration, const std::wstring& server,
                            const std::wstring& userName, const std::wstring& folderLocation);
} // namespace dwl
