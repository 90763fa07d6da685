#include "scriblet/LoggingSystem.h"

#include "qcl/String.h"
#include "scriblet/Configuration.h"
#include "scriblet/LogWriter.h"

LoggingSystem::LoggingSystem() = default;
LoggingSystem::LoggingSystem(const LoggingSystem& other) = default;
LoggingSystem::~LoggingSystem() = default;

LoggingSystem& LoggingSystem::operator=(const LoggingSystem& other)
{
    if (this != &other)
        mSubsystem = other.mSubsystem;
    return *this;
}

std::wstring LoggingSystem::GetSubsystem() const
{
    return mSubsystem;
}

void LoggingSystem::PutSubsystem(const std::wstring& name)
{
    mSubsystem = name;
    Configuration::configure(*this);
}

LogWriter* LoggingSystem::CreateLogWriter(const std::wstring& name) const
{
    log4cplus::Hierarchy& hierarchy = Configuration::hierarchy_for(mSubsystem);
    std::shared_mutex& gate = Configuration::gate_for(mSubsystem);
    if (name.empty())
        return new LogWriter(hierarchy.getRoot(), gate);
    return new LogWriter(hierarchy.getInstance(qcl::string::utf16ToUtf8Lenient(name)), gate);
}
