// Lines of a logging configuration template through the parser's line handlers: appender File values
// (with variable and folder expansion, then environment substitution as the script interface answers
// them) and logger entries.
#include "scriblet/Cfg.h"
#include "scriblet/ScriptLog.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    scriblet::Cfg cfg;
    cfg.setCurrentTemplate("/templates/scriblet.Fuzz.cfg");
    std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
    for (std::string line; std::getline(lines, line);)
    {
        if (!cfg.parse_appender_file(line))
            cfg.parse_logger(line);
        bool changed = false;
        cfg.expand_variables(line, changed);
    }
    for (const auto& [appender, file] : cfg.appenderFiles())
        scriblet::substituteEnvironment(file);
    return 0;
}
