#pragma once
// How PutSubsystem configures a subsystem: environment, hierarchy, generated configuration file.

#include "scriblet/LoggingSystem.h"

#include <log4cplus/hierarchy.h>

#include <shared_mutex>
#include <string>

// Internal: not exported from the library.
class __attribute__((visibility("hidden"))) LoggingSystem::Configuration
{
public:
    // The body of LoggingSystem::PutSubsystem.
    static void configure(const LoggingSystem& system);

    // Sets QUILLMERE_APP_DATA to the application-data folder and LOG_PROFILE to its "Logging" folder
    // (or to the library's folder for a service profile); USERPROFILE is set to the user's home when
    // it is unset.
    static void set_up_environment();

    // Whether `subsystem` can name the subsystem's folder and files: no "/", not "." or "..".
    static bool is_plain_name(const std::wstring& subsystem);

    // Where the subsystem's template is read from and its "scriblet.cfg" written to (UTF-8), from the
    // registry settings with the library's defaults: by default a folder of the application data named
    // after the subsystem as it is (never expanded). The template need not exist.
    struct Locations
    {
        std::string templatePath;
        std::string targetFolder;
    };
    static Locations cfg_locations(const std::wstring& subsystem);

    // Regenerates "scriblet.cfg" of `subsystem` from its template when the template is newer and
    // returns its path (UTF-8); empty when there is no template or the name is not plain, in which case
    // nothing is made or changed.
    static std::string generate_cfg_file(const std::wstring& subsystem);

    // The subsystem's own hierarchy, made on first request and kept for the whole process.
    static log4cplus::Hierarchy& hierarchy_for(const std::wstring& subsystem);
    // Held shared by the subsystem's writers while they write and exclusively while it is configured.
    static std::shared_mutex& gate_for(const std::wstring& subsystem);
};
