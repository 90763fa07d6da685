#include "app/Configuration.h"

#include "app/EmailAddress.h"
#include "app/Paths.h"
#include "compat/FileApi.h"
#include "compat/FileOperations.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "json_spirit/Reader.h"
#include "json_spirit/Value.h"
#include "json_spirit/Writer.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/Handle.h"
#include "qcl/Protection.h"

#include <sstream>

namespace dwl
{
namespace
{
constexpr char byteOrderMark[] = "\xEF\xBB\xBF";
constexpr char lineEnd[] = "\r\n";

qcl::uint128 readId(const json_spirit::Value& value)
{
    return value.isNull() ? qcl::uint128() : qcl::uint128::parse(value.getString());
}

// Starts the line of one setting: the key and the separator; the caller writes the value.
std::ostream& key(std::ostream& out, const char* name)
{
    json_spirit::writeString(out, std::string_view(name));
    return out << ": ";
}

void writeStringList(std::ostream& out, const char* name, const std::vector<std::wstring>& items)
{
    key(out, name);
    json_spirit::ArrayWriter list(out);
    list.writeStrings(items);
    list.close();
    out << lineEnd;
}

void writeWideString(std::ostream& out, const char* name, const std::wstring& text)
{
    key(out, name);
    json_spirit::writeString(out, text.data(), text.data() + text.size());
    out << lineEnd;
}

void writeNarrowString(std::ostream& out, const char* name, const std::string& text)
{
    key(out, name);
    json_spirit::writeString(out, text);
    out << lineEnd;
}

[[noreturn]] void saveError(const std::wstring& path, const std::wstring& reason)
{
    throw qcl::basic_runtime_error<wchar_t>(
        qcl::format(L"Cannot save configuration file '%1%': %2%", path, reason));
}

// Writes the text to a new file beside `path`, flushes it to disk and renames it over `path`. On failure the
// new file is removed and `path` is left as it was.
void replaceFileContent(const std::wstring& path, const std::string& text)
{
    const std::wstring temporary = path + L".new";
    // Made anew, private from its first byte: a file or link left at the name is removed, never written.
    DeleteFileW(temporary.c_str());
    qcl::Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, compat::ownerOnlyAccess(), CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        saveError(path, L"Cannot open file");
    DWORD written = 0;
    bool stored = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  FlushFileBuffers(file.get());
    DWORD error = stored ? ERROR_SUCCESS : GetLastError();
    file.close();
    if (stored && !compat::replaceFile(temporary.c_str(), path.c_str()))
    {
        stored = false;
        error = GetLastError();
    }
    if (!stored)
    {
        DeleteFileW(temporary.c_str());
        saveError(path, qcl::systemErrorText(error));
    }
}
} // namespace

Configuration Configuration::withDefaults()
{
    Configuration record;
    record.wayfoldFolderLocation = Paths::defaultFolderLocation();
    return record;
}

void Configuration::load(Configuration& record, const std::wstring& path)
{
    read(record, json_spirit::readFile(path));
}

void Configuration::read(Configuration& record, const json_spirit::Value& members)
{
    members.getObject();
    if (const json_spirit::Value& version = members["Version"]; !version.isNull())
        record.version = Version::fromJson(version);
    const json_spirit::Value& location = members["WayfoldFolderLocation"];
    record.wayfoldFolderLocation = location.isNull() ? Paths::defaultFolderLocation() : location.getWString();
    record.mustShowConfigurationDialog = members["MustShowConfigurationDialog"].getBoolOr(true);
    record.mustMonitorFolder = members["MustMonitorFolder"].getBoolOr(true);
    record.rescanIntervalInSeconds =
        members["RescanIntervalInSeconds"].getUIntOr(defaultRescanIntervalInSeconds);
    record.proxy = members["Proxy"].getStringOr({});
    record.server = members["Server"].getWStringOr({});
    record.userName = members["UserName"].getWStringOr({});
    record.userId = readId(members["UserId"]);
    record.deviceId = readId(members["DeviceId"]);
    record.documentBlackList = json_spirit::getOptionalWStringArray(members["DocumentBlackList"]);
    record.folderBlackList = json_spirit::getOptionalWStringArray(members["FolderBlackList"]);
    const json_spirit::Value& password = members["Password"];
    record.password = password.isNull() ? std::wstring() : decryptPassword(password.getString());
}

std::string Configuration::toText(const Configuration& record)
{
    std::ostringstream out;
    out << byteOrderMark;
    if (!record.version.isZero())
        key(out, "Version") << '[' << record.version.major << ',' << record.version.minor << ','
                            << record.version.patch << ']' << lineEnd;
    key(out, "MustShowConfigurationDialog")
        << (record.mustShowConfigurationDialog ? "true" : "false") << lineEnd;
    if (!record.mustMonitorFolder)
        key(out, "MustMonitorFolder") << "false" << lineEnd;
    if (record.rescanIntervalInSeconds != defaultRescanIntervalInSeconds)
        key(out, "RescanIntervalInSeconds") << record.rescanIntervalInSeconds << lineEnd;
    writeWideString(out, "WayfoldFolderLocation", record.wayfoldFolderLocation);
    if (!record.proxy.empty())
        writeNarrowString(out, "Proxy", record.proxy);
    if (!record.server.empty())
        writeWideString(out, "Server", record.server);
    if (!record.userName.empty())
        writeWideString(out, "UserName", record.userName);
    if (!record.userId.isNil())
        writeNarrowString(out, "UserId", record.userId.str());
    if (!record.password.empty())
        writeNarrowString(out, "Password", encryptPassword(record.password));
    if (!record.deviceId.isNil())
        writeNarrowString(out, "DeviceId", record.deviceId.str());
    if (record.documentBlackList)
        writeStringList(out, "DocumentBlackList", *record.documentBlackList);
    if (record.folderBlackList)
        writeStringList(out, "FolderBlackList", *record.folderBlackList);
    return out.str();
}

void Configuration::save(const Configuration& record, const std::wstring& path)
{
    replaceFileContent(path, toText(record));
}

bool isSameAccountAndFolder(const Configuration& configuration, const std::wstring& server,
                            const std::wstring& userName, const std::wstring& folderLocation)
{
    return !configuration.userName.empty() && configuration.server == server &&
           configuration.wayfoldFolderLocation == folderLocation &&
           isSameEmailAddress(configuration.userName, userName);
}
} // namespace dwl
