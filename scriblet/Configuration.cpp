#include "scriblet/Configuration.h"

#include "compat/Environment.h"
#include "compat/KnownFolders.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/String.h"
#include "scriblet/Cfg.h"
#include "scriblet/Configurator.h"
#include "scriblet/Folders.h"
#include "scriblet/InternalLog.h"
#include "scriblet/Settings.h"

#include <log4cplus/loglevel.h>

#include <filesystem>
#include <map>
#include <memory>
#include <shared_mutex>
#include <system_error>

namespace
{
namespace fs = std::filesystem;

void logFatal(const std::string& function, const std::string& text)
{
    qcl::logging::scriblet_logger::log(log4cplus::FATAL_LOG_LEVEL, function + "\t" + text);
}

void setVariable(const wchar_t* name, const std::string& value)
{
    if (!SetEnvironmentVariableW(name, qcl::string::utf8ToUtf16Lenient(value).c_str()))
        logFatal("LoggingSystem::Configuration::set_up_environment",
                 "Failed to create environment variable: " + qcl::string::utf16ToUtf8Lenient(name));
}

std::string expandEnvironment(const std::wstring& text)
{
    DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (size == 0)
        return qcl::string::utf16ToUtf8Lenient(text);
    std::wstring buffer(size, L'\0');
    size = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), size);
    buffer.resize(size > 0 ? size - 1 : 0);
    return qcl::string::utf16ToUtf8Lenient(buffer);
}

bool isServiceProfile(const std::wstring& profile)
{
    for (const wchar_t* name : {L"LocalService", L"Default User", L"systemprofile"})
        if (profile.find(name) != std::wstring::npos)
            return true;
    return false;
}

fs::file_time_type lastWriteTime(const std::string& path)
{
    std::error_code error;
    auto time = fs::last_write_time(fs::path(path), error);
    if (error)
        throw qcl::SystemError(qcl::format(L"Cannot get last modification time of file '%1%'", path),
                               compat::windowsErrorFromErrno(error.value(), path.c_str()));
    return time;
}

// Creates the missing folders, each private to the user.
void createFolder(const std::string& folder)
{
    if (!compat::createPrivateFolders(folder))
        throw qcl::SystemError(qcl::format(L"Cannot create directory '%1%'", folder), GetLastError());
}

// Whether `folder` lies inside `base`, ".." and "." taken into account.
bool isBelow(const std::string& folder, const std::string& base)
{
    if (base.empty())
        return false;
    const std::string inner = fs::path(folder).lexically_normal().string();
    std::string outer = fs::path(base).lexically_normal().string();
    if (outer.back() != '/')
        outer += '/';
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0;
}

struct Subsystem
{
    log4cplus::Hierarchy hierarchy;
    std::shared_mutex gate;
};

Subsystem& subsystemFor(const std::wstring& name)
{
    // Never destroyed: writers handed out keep loggers that refer to their hierarchy, and the program
    // may log until its very end.
    static auto* subsystems = new std::map<std::wstring, std::unique_ptr<Subsystem>>();
    auto& subsystem = (*subsystems)[name];
    if (!subsystem)
        subsystem = std::make_unique<Subsystem>();
    return *subsystem;
}

// Makes the folder private to the user whoever made it first; one of another user is refused.
void keepPrivate(const std::string& folder)
{
    if (!compat::keepFolderPrivate(folder))
        qcl::throwPrivateFolderError(qcl::string::utf8ToUtf16Lenient(folder), GetLastError());
}
} // namespace

void LoggingSystem::Configuration::configure(const LoggingSystem& system)
{
    set_up_environment();
    Subsystem& subsystem = subsystemFor(system.mSubsystem);
    const std::string file = generate_cfg_file(system.mSubsystem);
    // Between the reset and the new appenders the loggers have none: a line written then would be lost.
    std::unique_lock writersWait(subsystem.gate);
    subsystem.hierarchy.resetConfiguration();
    if (!file.empty())
        scriblet::Configurator(file, subsystem.hierarchy).configure();
}

void LoggingSystem::Configuration::set_up_environment()
{
    const std::string applicationData = scriblet::applicationDataFolder();
    setVariable(L"QUILLMERE_APP_DATA", applicationData);

    auto profile = compat::environmentVariable(L"USERPROFILE");
    if (!profile)
    {
        // Linux has no USERPROFILE; the user's home stands for it so that profile-based paths of the
        // templates resolve under the home folder.
        profile = compat::knownFolderPath(FOLDERID_Profile);
        if (profile)
            setVariable(L"USERPROFILE", qcl::string::utf16ToUtf8Lenient(*profile));
    }
    const bool userProfile = profile && !isServiceProfile(*profile) && !applicationData.empty();
    const std::string logFolder =
        userProfile ? scriblet::joinPath(applicationData, "Logging") : scriblet::libraryFolder();
    setVariable(L"LOG_PROFILE", logFolder);
    // The user's own folders hold the logs, which may name files and accounts: they are the user's alone.
    if (!applicationData.empty())
        keepPrivate(applicationData);
    if (userProfile)
        keepPrivate(logFolder);
}

bool LoggingSystem::Configuration::is_plain_name(const std::wstring& subsystem)
{
    return subsystem.find(L'/') == std::wstring::npos && subsystem != L"." && subsystem != L"..";
}

LoggingSystem::Configuration::Locations
LoggingSystem::Configuration::cfg_locations(const std::wstring& subsystem)
{
    const bool librarySubsystem = subsystem == L"scriblet";
    const std::string name = qcl::string::utf16ToUtf8Lenient(subsystem);
    std::wstring value;
    std::string sourceFolder;
    std::string targetFolder;
    if (qcl::settings::get_string(value, L"Logging", librarySubsystem ? nullptr : subsystem.c_str(),
                                  L"CfgSourceDir"))
    {
        sourceFolder = expandEnvironment(value);
        if (qcl::settings::get_string(value, L"Logging", subsystem.c_str(), L"CfgTargetDir") && !value.empty())
            targetFolder = expandEnvironment(value);
    }
    else
        sourceFolder = scriblet::libraryFolder();
    // The name joins the expanded folder as it is: "%" in it is no reference to the environment.
    if (targetFolder.empty())
    {
        targetFolder = expandEnvironment(L"%QUILLMERE_APP_DATA%");
        if (!name.empty())
            targetFolder = scriblet::joinPath(targetFolder, name);
    }

    const std::string templatePath =
        fs::path(scriblet::joinPath(sourceFolder, "scriblet." + name + ".cfg")).lexically_normal().string();
    return {templatePath, targetFolder};
}

std::string LoggingSystem::Configuration::generate_cfg_file(const std::wstring& subsystem)
{
    if (!is_plain_name(subsystem))
    {
        logFatal("LoggingSystem::Configuration::generate_cfg_file",
                 "Invalid subsystem name: " + qcl::string::utf16ToUtf8Lenient(subsystem));
        return {};
    }
    const auto [templatePath, targetFolder] = cfg_locations(subsystem);
    std::error_code error;
    if (!fs::exists(fs::path(templatePath), error))
    {
        logFatal("LoggingSystem::Configuration::generate_cfg_file",
                 "Missing logging configuration template: " + templatePath);
        return {};
    }
    // A target among the user's application data (by default the program's own data folder) is private.
    if (isBelow(targetFolder, scriblet::applicationDataFolder()))
        keepPrivate(targetFolder);

    const std::string output = scriblet::joinPath(targetFolder, "scriblet.cfg");
    scriblet::Cfg cfg;
    if (fs::exists(fs::path(output), error) && lastWriteTime(output) >= lastWriteTime(templatePath))
    {
        cfg.Parse(templatePath);
        return output;
    }
    createFolder(targetFolder);
    cfg.Parse(templatePath, output);
    return output;
}

log4cplus::Hierarchy& LoggingSystem::Configuration::hierarchy_for(const std::wstring& subsystem)
{
    return subsystemFor(subsystem).hierarchy;
}

std::shared_mutex& LoggingSystem::Configuration::gate_for(const std::wstring& subsystem)
{
    return subsystemFor(subsystem).gate;
}
