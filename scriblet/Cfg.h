#pragma once
// The parser of logging configuration templates. A template is a framework property file with two
// additions: "@include <file>" lines, processed in place, and File values of appenders that may name
// %VARIABLES% and the folders %@MYDOCUMENTS% and %@LOCAL_APPDATA%. Parsing with an output writes the
// framework's property file: comments and empty lines dropped, includes inlined, File values expanded.
// Texts and paths are UTF-8.

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace scriblet
{
class Cfg
{
public:
    struct LoggerEntry
    {
        std::string name;      // full name, "a.b.c"
        std::string parent;    // "a.b"
        std::string last;      // "c"
        int level;             // the framework's value of the level text
        std::string appenders; // the appender list as written
    };

    // Collects the appender files and logger entries of `templatePath`. False when it cannot be read.
    bool Parse(const std::string& templatePath);
    // The same, writing the generated file to `outputPath`. The file is replaced only when it was
    // written whole, so a reader never sees half of it. False when either file cannot be opened.
    bool Parse(const std::string& templatePath, const std::string& outputPath);

    const std::map<std::string, std::string>& appenderFiles() const { return mAppenderFiles; }
    const std::map<std::string, LoggerEntry>& loggers() const { return mLoggers; }

    // A line "log4cplus.appender.NAME.File=VALUE": records NAME's expanded file and rewrites `line`
    // with it. False for any other line.
    bool parse_appender_file(std::string& line);
    // A line "log4cplus.logger.NAME=LEVEL[, APPENDERS]": records the entry. False for any other line.
    bool parse_logger(const std::string& line);
    // %@MYDOCUMENTS% and %@LOCAL_APPDATA% become those folders (the user's profile inside them as
    // ${USERPROFILE}); every other %NAME% becomes ${NAME} for the framework to substitute. `changed`
    // tells whether anything was replaced.
    std::string expand_variables(const std::string& value, bool& changed) const;
    // expand_variables, and a relative path that held no variable made absolute against the folder of
    // the current template.
    std::string expand_path(const std::string& value) const;

    // The template being read (the innermost one while an include is read).
    const std::string& currentTemplate() const { return mTemplate; }
    void setCurrentTemplate(const std::string& path) { mTemplate = path; }

private:
    bool parseTemplate(const std::string& path, std::ostream* output);
    void parseLine(std::string line, std::ostream* output);

    std::string mTemplate;
    std::vector<std::string> mOpenTemplates;
    std::map<std::string, std::string> mAppenderFiles;
    std::map<std::string, LoggerEntry> mLoggers;
};
} // namespace scriblet
