#include "scriblet/InternalLog.h"

#include "scriblet/Configurator.h"
#include "scriblet/Folders.h"

#include <log4cplus/hierarchy.h>
#include <log4cplus/logger.h>

#include <mutex>

namespace qcl::logging
{
class scriblet_logger::configurer : public scriblet::Configurator
{
public:
    configurer(const log4cplus::helpers::Properties& properties, log4cplus::Hierarchy& hierarchy)
        : scriblet::Configurator(properties, hierarchy)
    {
    }
    ~configurer() override = default;
};

namespace
{
log4cplus::helpers::Properties builtInProperties()
{
    log4cplus::helpers::Properties properties;
    properties.setProperty("log4cplus.appender.scriblet", "log4cplus::RollingFileAppender");
    properties.setProperty("log4cplus.appender.scriblet.MaxFileSize", "10MB");
    properties.setProperty("log4cplus.appender.scriblet.MaxBackupIndex", "2");
    properties.setProperty("log4cplus.appender.scriblet.File",
                           scriblet::joinPath(scriblet::joinPath(scriblet::applicationDataFolder(), "Logging"),
                                              "scriblet.log"));
    properties.setProperty("log4cplus.appender.scriblet.layout", "log4cplus::PatternLayout");
    properties.setProperty("log4cplus.appender.scriblet.layout.ConversionPattern",
                           "%D{%Y-%m-%d %H:%M:%S.%q} [%t] %-5p %m%n");
    properties.setProperty("log4cplus.rootLogger", "WARN, scriblet");
    return properties;
}

log4cplus::Logger& internalRoot()
{
    static std::once_flag once;
    // Kept for the whole process: library code may still report while static objects are destroyed.
    static log4cplus::Hierarchy* hierarchy = nullptr;
    static log4cplus::Logger* root = nullptr;
    std::call_once(once, [] {
        hierarchy = new log4cplus::Hierarchy();
        scriblet_logger::configurer(builtInProperties(), *hierarchy).configure();
        root = new log4cplus::Logger(hierarchy->getRoot());
    });
    return *root;
}
} // namespace

void scriblet_logger::log(int level, const std::string& text)
{
    try
    {
        auto& root = internalRoot();
        if (root.isEnabledFor(level))
            root.forcedLog(level, text, nullptr, -1, "");
    }
    catch (...)
    {
    }
}
} // namespace qcl::logging
