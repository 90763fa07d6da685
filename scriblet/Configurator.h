#pragma once
// The property configurator of the library: configures a hierarchy as the framework does, but builds
// the framework's file appenders as the library's own (see FileAppenders.h), so that configuration
// files keep the framework's class names.

#include <log4cplus/configurator.h>

namespace scriblet
{
class Configurator : public log4cplus::PropertyConfigurator
{
public:
    Configurator(const std::string& propertyFile, log4cplus::Hierarchy& hierarchy);
    Configurator(const log4cplus::helpers::Properties& properties, log4cplus::Hierarchy& hierarchy);

    void configure() override;

    // The library's appender class that stands for a framework class name, or the name itself.
    static std::string appenderClassFor(const std::string& className);
};
} // namespace scriblet
