#include "scriblet/ScriptLog.h"

#include "compat/Environment.h"
#include "qcl/String.h"
#include "scriblet/Cfg.h"
#include "scriblet/Configuration.h"
#include "scriblet/LogWriter.h"
#include "scriblet/ScriptLoggerItems.h"
#include "scriblet/WriteFailures.h"

#include <log4cplus/loglevel.h>

#include <filesystem>
#include <system_error>

namespace scriblet
{
namespace
{
// The map of hierarchies behind PutSubsystem and CreateLogWriter has no lock of its own; script
// objects may be made and changed on any thread, so they reach it one at a time.
std::mutex& configurationMutex()
{
    static std::mutex mutex;
    return mutex;
}

// A name from the caller as UTF-16; false when it is not valid UTF-8.
bool toName(const char* text, std::wstring& name)
{
    try
    {
        name = qcl::string::utf8ToUtf16(std::string(text));
        return true;
    }
    catch (const qcl::string::invalid_utf_sequence&)
    {
        return false;
    }
}

int frameworkLevel(std::int32_t level)
{
    return level == CLog::NotSetLevel ? log4cplus::NOT_SET_LOG_LEVEL : level;
}

// The subsystem's template read without writing anything; empty when it has none.
Cfg parsedConfiguration(const std::wstring& subsystem)
{
    Cfg cfg;
    const std::string templatePath = LoggingSystem::Configuration::cfg_locations(subsystem).templatePath;
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::path(templatePath), error))
        cfg.Parse(templatePath);
    return cfg;
}
} // namespace

std::string substituteEnvironment(const std::string& text)
{
    std::string result;
    std::size_t position = 0;
    for (;;)
    {
        std::size_t open = text.find("${", position);
        std::size_t close = open == std::string::npos ? std::string::npos : text.find('}', open + 2);
        if (close == std::string::npos)
            break;
        result.append(text, position, open - position);
        auto value = compat::environmentVariable(
            qcl::string::utf8ToUtf16Lenient(text.substr(open + 2, close - open - 2)));
        if (value)
            result += qcl::string::utf16ToUtf8Lenient(*value);
        position = close + 1;
    }
    result.append(text, position);
    return result;
}

CLog::CLog()
{
    std::lock_guard configuration(configurationMutex());
    // Every new logger configures the library's subsystem, so that a template that appeared or changed since
    // the last one is taken up; the other writers of the subsystem wait for it and lose no line.
    mSystem.PutSubsystem(L"scriblet");
    mWriter.reset(mSystem.CreateLogWriter(mName));
}

CLog::~CLog() = default;

std::shared_ptr<LogWriter> CLog::writer() const
{
    std::lock_guard lock(mMutex);
    return mWriter;
}

std::wstring CLog::subsystem() const
{
    std::lock_guard lock(mMutex);
    return mSystem.GetSubsystem();
}

HRESULT CLog::get_Name(std::string* name) const
{
    if (name == nullptr)
        return E_POINTER;
    std::lock_guard lock(mMutex);
    *name = qcl::string::utf16ToUtf8(mName);
    return S_OK;
}

HRESULT CLog::put_Name(const char* name)
{
    std::wstring wide;
    if (name == nullptr || !toName(name, wide))
        return E_INVALIDARG;
    std::lock_guard lock(mMutex);
    std::shared_ptr<LogWriter> writer;
    {
        std::lock_guard configuration(configurationMutex());
        writer.reset(mSystem.CreateLogWriter(wide));
    }
    mName = std::move(wide);
    mWriter = std::move(writer);
    return S_OK;
}

HRESULT CLog::write(int level, const char* text)
{
    if (text == nullptr)
        return E_INVALIDARG;
    takeWriteFailure(); // what an earlier line of this thread left
    writer()->Message(level, std::string(text), nullptr, -1);
    return takeWriteFailure() ? E_FAIL : S_OK;
}

HRESULT CLog::Trace(const char* text)
{
    return write(log4cplus::TRACE_LOG_LEVEL, text);
}

HRESULT CLog::Debug(const char* text)
{
    return write(log4cplus::DEBUG_LOG_LEVEL, text);
}

HRESULT CLog::Information(const char* text)
{
    return write(log4cplus::INFO_LOG_LEVEL, text);
}

HRESULT CLog::Warning(const char* text)
{
    return write(log4cplus::WARN_LOG_LEVEL, text);
}

HRESULT CLog::Error(const char* text)
{
    return write(log4cplus::ERROR_LOG_LEVEL, text);
}

HRESULT CLog::FatalError(const char* text)
{
    return write(log4cplus::FATAL_LOG_LEVEL, text);
}

HRESULT CLog::LogMessage(std::int32_t level, const char* text)
{
    return write(frameworkLevel(level), text);
}

HRESULT CLog::CanWriteLog(const char* name, std::int32_t level, int* enabled) const
{
    if (enabled == nullptr)
        return E_POINTER;
    *enabled = 0;
    std::wstring wide;
    if (name == nullptr || !toName(name, wide))
        return E_INVALIDARG;
    LoggingSystem system;
    {
        std::lock_guard lock(mMutex);
        system = mSystem;
    }
    std::unique_ptr<LogWriter> writer;
    {
        std::lock_guard configuration(configurationMutex());
        writer.reset(system.CreateLogWriter(wide));
    }
    *enabled = writer->IsEnabledFor(frameworkLevel(level)) ? 1 : 0;
    return S_OK;
}

HRESULT CLog::GetAllLogPath(std::string* paths) const
{
    if (paths == nullptr)
        return E_POINTER;
    paths->clear();
    const Cfg cfg = parsedConfiguration(subsystem());
    if (cfg.appenderFiles().empty())
        return S_FALSE;
    for (const auto& [appender, file] : cfg.appenderFiles())
    {
        if (!paths->empty())
            *paths += '|';
        *paths += substituteEnvironment(file);
    }
    return S_OK;
}

HRESULT CLog::GetLoggerInfo(std::unique_ptr<CLoggerItems>* items) const
{
    if (items == nullptr)
        return E_POINTER;
    items->reset();
    const Cfg cfg = parsedConfiguration(subsystem());
    auto result = std::make_unique<CLoggerItems>();
    for (const auto& [name, entry] : cfg.loggers())
    {
        const std::string text =
            name + "|" + log4cplus::getLogLevelManager().toString(entry.level) + "|" + entry.appenders;
        result->Add(text.c_str());
    }
    *items = std::move(result);
    return S_OK;
}

HRESULT CLog::get_Subsystem(std::string* subsystem) const
{
    if (subsystem == nullptr)
        return E_POINTER;
    *subsystem = qcl::string::utf16ToUtf8(this->subsystem());
    return S_OK;
}

HRESULT CLog::put_Subsystem(const char* subsystem)
{
    std::wstring wide;
    if (subsystem == nullptr || !toName(subsystem, wide) || !LoggingSystem::Configuration::is_plain_name(wide))
        return E_INVALIDARG;
    std::lock_guard lock(mMutex);
    // Configured on a copy, so that a failure leaves this object as it was.
    LoggingSystem system;
    std::shared_ptr<LogWriter> writer;
    {
        std::lock_guard configuration(configurationMutex());
        system.PutSubsystem(wide);
        writer.reset(system.CreateLogWriter(mName));
    }
    mSystem = system;
    mWriter = std::move(writer);
    return S_OK;
}

HRESULT CLog::Initialise()
{
    return S_OK;
}
} // namespace scriblet
