#pragma once
// Names a subsystem and, when the name is set, configures that subsystem's loggers from its
// generated configuration file.

#include "scriblet/Export.h"

#include <string>

class LogWriter;

class SCRIBLET_API LoggingSystem
{
public:
    LoggingSystem();
    LoggingSystem(const LoggingSystem& other);
    LoggingSystem& operator=(const LoggingSystem& other);
    ~LoggingSystem();

    std::wstring GetSubsystem() const;

    // Stores the name and configures the subsystem: sets up the environment variables of the library,
    // regenerates "scriblet.cfg" from the subsystem's template when the template is newer, and
    // configures the subsystem's hierarchy from it, while its writers wait. The name is one folder and
    // file name component, taken as it is: a name with "/", or "." or "..", configures nothing. Problems
    // go to the library's own log; only a configuration folder that cannot be created throws
    // (qcl::SystemError).
    void PutSubsystem(const std::wstring& name);

    // A new writer of the logger `name` ("" for the root logger) of the current subsystem's hierarchy.
    LogWriter* CreateLogWriter(const std::wstring& name) const;

    class Configuration;

private:
    std::wstring mSubsystem;
};
