#include "scriblet/Cfg.h"

#include "compat/Environment.h"
#include "compat/KnownFolders.h"
#include "compat/PrivateFiles.h"
#include "qcl/String.h"
#include "scriblet/InternalLog.h"

#include <log4cplus/loglevel.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace scriblet
{
namespace
{
namespace fs = std::filesystem;

std::string trim(const std::string& text)
{
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool isNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool isName(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), isNameCharacter);
}

std::string folderOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string normalised(const std::string& path)
{
    return fs::path(path).lexically_normal().string();
}

// The user's folder for %@NAME%, with the profile folder inside it written as ${USERPROFILE}.
std::string specialFolder(const std::string& name)
{
    const KNOWNFOLDERID* id = name == "MYDOCUMENTS"     ? &FOLDERID_Documents
                              : name == "LOCAL_APPDATA" ? &FOLDERID_LocalAppData
                                                        : nullptr;
    if (id == nullptr)
        return {};
    auto folder = compat::knownFolderPath(*id, KF_FLAG_CREATE);
    if (!folder)
        return {};
    std::string text = qcl::string::utf16ToUtf8Lenient(*folder);
    if (auto profile = compat::environmentVariable(L"USERPROFILE"); profile && !profile->empty())
    {
        std::string profileText = qcl::string::utf16ToUtf8Lenient(*profile);
        if (std::size_t at = text.find(profileText); at != std::string::npos)
            text.replace(at, profileText.size(), "${USERPROFILE}");
    }
    return text;
}

void logError(const std::string& text)
{
    qcl::logging::scriblet_logger::log(log4cplus::ERROR_LOG_LEVEL, "Cfg::Parse\t" + text);
}

std::string temporaryNameFor(const std::string& path)
{
    std::random_device random;
    return path + ".tmp" + std::to_string(random()) + std::to_string(random());
}
} // namespace

bool Cfg::Parse(const std::string& templatePath)
{
    return parseTemplate(templatePath, nullptr);
}

bool Cfg::Parse(const std::string& templatePath, const std::string& outputPath)
{
    if (!std::ifstream(templatePath, std::ios::binary))
    {
        logError("Failed to open logging configuration template: " + templatePath);
        return false;
    }
    // Written whole to a new private file beside the output, then renamed over it in one step.
    const std::string temporary = temporaryNameFor(outputPath);
    compat::PrivateFile output;
    if (!output.open(temporary, compat::PrivateFile::Creation::CreateNew))
    {
        logError("Failed to open logging configuration file: " + outputPath);
        return false;
    }
    std::ostringstream text;
    const bool parsed = parseTemplate(templatePath, &text);
    const std::string generated = text.str();
    std::error_code error;
    const bool written = parsed && output.write(generated.data(), generated.size());
    output.close();
    if (written)
        fs::rename(fs::path(temporary), fs::path(outputPath), error);
    if (!written || error)
    {
        if (parsed)
            logError("Failed to write logging configuration file: " + outputPath);
        fs::remove(fs::path(temporary), error);
        return false;
    }
    return true;
}

bool Cfg::parseTemplate(const std::string& path, std::ostream* output)
{
    std::ifstream input(path, std::ios::binary);
    if (!input)
    {
        logError("Failed to open logging configuration template: " + path);
        return false;
    }
    const std::string outer = mTemplate;
    mTemplate = path;
    mOpenTemplates.push_back(normalised(fs::absolute(fs::path(path)).string()));
    std::string line;
    while (std::getline(input, line))
        parseLine(std::move(line), output);
    mOpenTemplates.pop_back();
    mTemplate = outer;
    return true;
}

void Cfg::parseLine(std::string line, std::ostream* output)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const std::string trimmed = trim(line);
    if (trimmed.empty() || trimmed.front() == '#')
        return;

    if (std::size_t include = line.find("@include"); include != std::string::npos)
    {
        std::string name = trim(line.substr(include + 8));
        if (name.empty())
            return;
        if (name.front() != '/')
            name = folderOf(mTemplate) + "/" + name;
        const std::string key = normalised(fs::absolute(fs::path(name)).string());
        if (std::find(mOpenTemplates.begin(), mOpenTemplates.end(), key) != mOpenTemplates.end())
        {
            logError("Include cycle: logging configuration template " + name + " includes itself");
            return;
        }
        parseTemplate(name, output);
        return;
    }

    if (!parse_appender_file(line))
        parse_logger(line);
    if (output != nullptr)
        *output << line << '\n';
}

bool Cfg::parse_appender_file(std::string& line)
{
    static const std::string prefix = "log4cplus.appender.";
    static const std::string file = ".File=";
    std::size_t start = line.find(prefix);
    if (start == std::string::npos)
        return false;
    start += prefix.size();
    std::size_t end = line.find(file, start);
    if (end == std::string::npos)
        return false;
    const std::string name = line.substr(start, end - start);
    const std::string value = expand_path(trim(line.substr(end + file.size())));
    mAppenderFiles[name] = value;
    line = line.substr(0, end + file.size()) + value;
    return true;
}

bool Cfg::parse_logger(const std::string& line)
{
    static const std::string prefix = "log4cplus.logger.";
    std::size_t start = line.find(prefix);
    if (start == std::string::npos)
        return false;
    start += prefix.size();
    std::size_t equals = line.find('=', start);
    if (equals == std::string::npos)
        return false;

    LoggerEntry entry;
    entry.name = trim(line.substr(start, equals - start));
    std::size_t dot = entry.name.rfind('.');
    entry.parent = dot == std::string::npos ? std::string() : entry.name.substr(0, dot);
    entry.last = dot == std::string::npos ? entry.name : entry.name.substr(dot + 1);

    const std::string value = line.substr(equals + 1);
    std::size_t comma = value.find(',');
    entry.level = log4cplus::getLogLevelManager().fromString(trim(value.substr(0, comma)));
    if (comma != std::string::npos)
        entry.appenders = trim(value.substr(comma + 1));
    else if (auto parent = mLoggers.find(entry.parent); !entry.parent.empty() && parent != mLoggers.end())
        entry.appenders = parent->second.appenders;
    mLoggers[entry.name] = entry;
    return true;
}

std::string Cfg::expand_variables(const std::string& value, bool& changed) const
{
    changed = false;
    std::string result;
    std::size_t position = 0;
    while (position < value.size())
    {
        std::size_t open = value.find('%', position);
        std::size_t close = open == std::string::npos ? std::string::npos : value.find('%', open + 1);
        if (close == std::string::npos)
        {
            result.append(value, position);
            break;
        }
        result.append(value, position, open - position);
        std::string name = value.substr(open + 1, close - open - 1);
        if (name.size() > 1 && name.front() == '@' && isName(name.substr(1)))
        {
            std::string folder = specialFolder(name.substr(1));
            if (folder.empty())
                result += "%" + name + "%";
            else
            {
                result += folder;
                changed = true;
            }
            position = close + 1;
        }
        else if (isName(name))
        {
            result += "${" + name + "}";
            changed = true;
            position = close + 1;
        }
        else
        {
            // Not a reference: keep the "%" and look again from the next one.
            result += '%';
            position = open + 1;
        }
    }
    return result;
}

std::string Cfg::expand_path(const std::string& value) const
{
    bool changed = false;
    std::string result = expand_variables(value, changed);
    if (!changed && !result.empty() && result.front() != '/')
        result = normalised(folderOf(mTemplate) + "/" + result);
    return result;
}
} // namespace scriblet
