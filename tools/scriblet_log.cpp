// scriblet-log: writes log lines from shell scripts through the logging library's C interface.

#include "scriblet/scriblet_c.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace
{
const char* const usage =
    "Usage: scriblet-log [-s SUBSYSTEM] [-n LOGGER] [-l LEVEL] [--] [MESSAGE...]\n"
    "Writes MESSAGE (the arguments joined by spaces) to the logs of SUBSYSTEM through\n"
    "LOGGER at LEVEL; without a MESSAGE, writes each line of standard input.\n"
    "  -s, --subsystem NAME  subsystem whose logging configuration is used (default: scriblet)\n"
    "  -n, --logger NAME     logger, as \"a.b.c\" (default: the root logger)\n"
    "  -l, --level LEVEL     trace, debug, info, warn, error, fatal or a number (default: info)\n"
    "  -h, --help            show this text\n";

int usageError(const std::string& text)
{
    std::cerr << "scriblet-log: " << text << "\n" << usage;
    return 2;
}

int failure(const std::string& what, scriblet_result result)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
    std::cerr << "scriblet-log: " << what << " (error " << code << ")\n";
    return 1;
}

// The level of a name or a number; nothing when it is neither.
std::optional<int32_t> parseLevel(const std::string& text)
{
    static const struct
    {
        const char* name;
        int32_t level;
    } names[] = {{"trace", SCRIBLET_LEVEL_TRACE},  {"debug", SCRIBLET_LEVEL_DEBUG},
                 {"info", SCRIBLET_LEVEL_INFO},    {"warn", SCRIBLET_LEVEL_WARN},
                 {"warning", SCRIBLET_LEVEL_WARN}, {"error", SCRIBLET_LEVEL_ERROR},
                 {"fatal", SCRIBLET_LEVEL_FATAL}};
    for (const auto& entry : names)
        if (strcasecmp(text.c_str(), entry.name) == 0)
            return entry.level;
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

struct LoggerRelease
{
    void operator()(scriblet_logger* logger) const { scriblet_logger_release(logger); }
};
using Logger = std::unique_ptr<scriblet_logger, LoggerRelease>;

// Tells on standard error when the subsystem's configuration names no log file, since the lines
// would then go nowhere without a sign.
void warnWithoutLogFile(scriblet_logger* logger, const std::string& subsystem)
{
    char* paths = nullptr;
    if (scriblet_logger_get_all_log_path(logger, &paths) == SCRIBLET_S_FALSE)
        std::cerr << "scriblet-log: warning: the logging configuration of subsystem '" << subsystem
                  << "' names no log file\n";
    scriblet_free_string(paths);
}
} // namespace

int main(int argc, char** argv)
{
    std::string subsystem = "scriblet";
    std::string loggerName;
    int32_t level = SCRIBLET_LEVEL_INFO;

    static const option options[] = {{"subsystem", required_argument, nullptr, 's'},
                                     {"logger", required_argument, nullptr, 'n'},
                                     {"level", required_argument, nullptr, 'l'},
                                     {"help", no_argument, nullptr, 'h'},
                                     {nullptr, 0, nullptr, 0}};
    opterr = 0;
    // "+": options end at the first word of the message, so a message may hold words like "-1".
    for (int option; (option = getopt_long(argc, argv, "+:s:n:l:h", options, nullptr)) != -1;)
    {
        switch (option)
        {
        case 's':
            subsystem = optarg;
            break;
        case 'n':
            loggerName = optarg;
            break;
        case 'l':
            if (auto parsed = parseLevel(optarg))
                level = *parsed;
            else
                return usageError(std::string("unknown level '") + optarg + "'");
            break;
        case 'h':
            std::cout << usage;
            return 0;
        case ':':
            return usageError(std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            return usageError("unknown option '" +
                              (optopt != 0 ? std::string("-") + char(optopt) : argv[optind - 1]) + "'");
        }
    }

    scriblet_logger* created = nullptr;
    if (scriblet_result result = scriblet_logger_create(&created); SCRIBLET_FAILED(result))
        return failure("cannot start the logging library", result);
    Logger logger(created);
    if (subsystem != "scriblet")
        if (scriblet_result result = scriblet_logger_put_subsystem(logger.get(), subsystem.c_str());
            SCRIBLET_FAILED(result))
            return result == SCRIBLET_E_INVALIDARG
                       ? usageError("invalid subsystem '" + subsystem + "'")
                       : failure("cannot configure subsystem '" + subsystem + "'", result);
    if (scriblet_result result = scriblet_logger_put_name(logger.get(), loggerName.c_str());
        SCRIBLET_FAILED(result))
        return result == SCRIBLET_E_INVALIDARG ? usageError("invalid logger name '" + loggerName + "'")
                                               : failure("cannot use logger '" + loggerName + "'", result);
    warnWithoutLogFile(logger.get(), subsystem);

    auto write = [&](const std::string& message)
    {
        scriblet_result result = scriblet_logger_log_message(logger.get(), level, message.c_str());
        return SCRIBLET_FAILED(result) ? failure("cannot write the message", result) : 0;
    };
    if (optind < argc)
    {
        std::string message = argv[optind];
        for (int i = optind + 1; i < argc; ++i)
            message.append(" ").append(argv[i]);
        return write(message);
    }
    for (std::string line; std::getline(std::cin, line);)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (int status = write(line))
            return status;
    }
    if (std::cin.bad())
    {
        std::cerr << "scriblet-log: cannot read standard input\n";
        return 1;
    }
    return 0;
}
