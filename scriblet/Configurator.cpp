#include "scriblet/Configurator.h"

#include "scriblet/FileAppenders.h"

#include <log4cplus/helpers/property.h>

namespace scriblet
{
Configurator::Configurator(const std::string& propertyFile, log4cplus::Hierarchy& hierarchy)
    : log4cplus::PropertyConfigurator(propertyFile, hierarchy, 0)
{
}

Configurator::Configurator(const log4cplus::helpers::Properties& properties, log4cplus::Hierarchy& hierarchy)
    : log4cplus::PropertyConfigurator(properties, hierarchy, 0)
{
}

std::string Configurator::appenderClassFor(const std::string& className)
{
    if (className == "log4cplus::FileAppender")
        return FileAppender::className;
    if (className == "log4cplus::RollingFileAppender")
        return RollingFileAppender::className;
    if (className == "log4cplus::DailyRollingFileAppender")
        return DailyRollingFileAppender::className;
    return className;
}

void Configurator::configure()
{
    registerFileAppenders();
    // The framework has already dropped the "log4cplus." prefix of the keys.
    const std::string prefix = "appender.";
    for (const auto& name : properties.getPropertySubset(prefix).propertyNames())
    {
        if (name.find('.') != std::string::npos)
            continue;
        const std::string key = prefix + name;
        const std::string className = properties.getProperty(key);
        const std::string replacement = appenderClassFor(className);
        if (replacement != className)
            properties.setProperty(key, replacement);
    }
    log4cplus::PropertyConfigurator::configure();
}
} // namespace scriblet
