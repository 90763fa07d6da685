#include "scriblet/FileAppenders.h"

#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "qcl/Error.h"
#include "qcl/String.h"
#include "scriblet/WriteFailures.h"

#include <log4cplus/helpers/loglog.h>
#include <log4cplus/helpers/property.h>
#include <log4cplus/spi/factory.h>
#include <log4cplus/spi/loggingevent.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

namespace scriblet
{
namespace
{
namespace fs = std::filesystem;

constexpr auto reopenForAppending = std::ios_base::out | std::ios_base::app | std::ios_base::ate;

std::string lastErrorText()
{
    return qcl::string::utf16ToUtf8Lenient(qcl::systemErrorText(GetLastError()));
}

// Copies the live file to a new private file: a name taken in the meantime, even by a link, fails the copy
// rather than being written through. A partial copy is removed.
bool copyFile(const std::string& from, const std::string& to)
{
    std::ifstream source(from, std::ios::binary);
    compat::PrivateFile target;
    std::string failure;
    if (!source)
        failure = "cannot read the file";
    else if (!target.open(to, compat::PrivateFile::Creation::CreateNew))
        failure = lastErrorText();
    std::vector<char> buffer(1 << 16);
    while (failure.empty() && source)
    {
        source.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (!target.write(buffer.data(), static_cast<std::size_t>(source.gcount())))
            failure = lastErrorText();
    }
    if (failure.empty() && source.bad())
        failure = "cannot read the file";
    if (failure.empty())
        return true;
    if (target.isOpen())
    {
        std::error_code ignored;
        fs::remove(fs::path(to), ignored);
    }
    log4cplus::helpers::getLogLog().error("Failed to copy file " + from + " to " + to + ": " + failure +
                                          "; the file is kept as it is");
    return false;
}

bool emptyFile(const std::string& path)
{
    compat::PrivateFile file;
    if (file.open(path, compat::PrivateFile::Creation::OpenOrCreate) && file.truncate())
        return true;
    log4cplus::helpers::getLogLog().error("Failed to truncate file " + path + ": " + lastErrorText());
    return false;
}

void renameIfPresent(const std::string& from, const std::string& to)
{
    std::error_code error;
    fs::rename(fs::path(from), fs::path(to), error);
    if (error && error != std::errc::no_such_file_or_directory)
        log4cplus::helpers::getLogLog().error("Failed to rename file from " + from + " to " + to + ": " +
                                              error.message());
}

// name.(count-1) -> name.count, ..., name.1 -> name.2; the oldest is dropped.
void shiftBackups(const std::string& name, int count)
{
    if (count < 1)
        return;
    std::error_code ignored;
    fs::remove(fs::path(name + "." + std::to_string(count)), ignored);
    for (int index = count - 1; index >= 1; --index)
        renameIfPresent(name + "." + std::to_string(index), name + "." + std::to_string(index + 1));
}

void reportOpening(const log4cplus::tofstream& out, const std::string& name)
{
    if (!out.good())
        log4cplus::helpers::getLogLog().error("Failed to open file " + name);
}

// After a line was written: a stream that failed lost it.
void reportWriting(const log4cplus::tofstream& out, const std::string& name, log4cplus::ErrorHandler& handler)
{
    if (!out.good())
        handler.error("Failed to write to file " + name);
}
} // namespace

FileAppender::FileAppender(const log4cplus::helpers::Properties& properties)
    : SharedLogFile(properties), log4cplus::FileAppender(mAppenderProperties)
{
    setErrorHandler(std::make_unique<RecordingErrorHandler>());
}

FileAppender::~FileAppender()
{
    destructorImpl();
}

RollingFileAppender::RollingFileAppender(const log4cplus::helpers::Properties& properties)
    : SharedLogFile(properties), log4cplus::RollingFileAppender(mAppenderProperties),
      mBackupCount(maxBackupIndex), mNextAttemptSize(0)
{
    setErrorHandler(std::make_unique<RecordingErrorHandler>());
    // The framework raises a MaxBackupIndex below 1 to 1; 0 means "keep no backup" here.
    int configured = 0;
    if (properties.getInt(configured, "MaxBackupIndex"))
        mBackupCount = std::max(configured, 0);
}

RollingFileAppender::~RollingFileAppender()
{
    destructorImpl();
}

void FileAppender::append(const log4cplus::spi::InternalLoggingEvent& event)
{
    log4cplus::FileAppender::append(event);
    reportWriting(out, filename, *getErrorHandler());
}

void FileAppender::open(std::ios_base::openmode mode)
{
    if (prepare(filename))
        log4cplus::FileAppender::open(mode);
}

void RollingFileAppender::append(const log4cplus::spi::InternalLoggingEvent& event)
{
    // Under the lock, the end of the file is where every process's lines end: the size counts them all.
    Guard guard(*this);
    auto due = [this] {
        std::streamoff size = out.tellp();
        return size > maxFileSize && size > mNextAttemptSize;
    };
    out.seekp(0, std::ios_base::end);
    if (due())
        rollOver();
    log4cplus::FileAppender::append(event);
    out.flush();
    reportWriting(out, filename, *getErrorHandler());
    if (due())
        rollOver();
}

void RollingFileAppender::open(std::ios_base::openmode mode)
{
    if (prepare(filename))
        log4cplus::RollingFileAppender::open(mode);
}

void RollingFileAppender::rollOver()
{
    auto& loglog = log4cplus::helpers::getLogLog();
    const std::streamoff size = out.tellp();
    out.close();
    out.clear();

    bool saved = true;
    if (mBackupCount < 1)
        loglog.debug(filename + " has no backups specified");
    else
    {
        shiftBackups(filename, mBackupCount);
        const std::string target = filename + ".1";
        loglog.debug("Renaming file " + filename + " to " + target);
        saved = copyFile(filename, target);
    }
    const bool emptied = saved && emptyFile(filename);
    mNextAttemptSize = emptied ? 0 : size + maxFileSize;

    open(reopenForAppending);
    reportOpening(out, filename);
}

DailyRollingFileAppender::DailyRollingFileAppender(const log4cplus::helpers::Properties& properties)
    : SharedLogFile(properties), log4cplus::DailyRollingFileAppender(mAppenderProperties)
{
    setErrorHandler(std::make_unique<RecordingErrorHandler>());
}

DailyRollingFileAppender::~DailyRollingFileAppender()
{
    destructorImpl();
}

void DailyRollingFileAppender::close()
{
    if (rollOnClose && out.is_open())
    {
        Guard guard(*this);
        rollOver(log4cplus::helpers::now());
    }
    log4cplus::FileAppenderBase::close();
}

void DailyRollingFileAppender::append(const log4cplus::spi::InternalLoggingEvent& event)
{
    Guard guard(*this);
    if (event.getTimestamp() >= nextRolloverTime)
        rollOver(event.getTimestamp());
    log4cplus::FileAppender::append(event);
    out.flush();
    reportWriting(out, filename, *getErrorHandler());
}

void DailyRollingFileAppender::open(std::ios_base::openmode mode)
{
    if (prepare(filename))
        log4cplus::DailyRollingFileAppender::open(mode);
}

void DailyRollingFileAppender::rollOver(const log4cplus::helpers::Time& now)
{
    auto& loglog = log4cplus::helpers::getLogLog();
    out.close();
    out.clear();

    // A period may be rolled over more than once (a restart with rollover on close): earlier files of
    // the period move to ".1", ".2" and so on.
    if (maxBackupIndex >= 1)
    {
        shiftBackups(scheduledFilename, maxBackupIndex);
        renameIfPresent(scheduledFilename, scheduledFilename + ".1");
    }
    loglog.debug("Renaming file " + filename + " to " + scheduledFilename);
    if (copyFile(filename, scheduledFilename))
        emptyFile(filename);

    open(reopenForAppending);
    reportOpening(out, filename);

    // The time of the event that is due decides the next period, so an event stamped later than the
    // clock (or a clock that moved) does not roll the file over again for every line.
    if (now >= nextRolloverTime)
    {
        scheduledFilename = getFilename(now);
        nextRolloverTime = calculateNextRolloverTime(now);
    }
}

void registerFileAppenders()
{
    static std::once_flag once;
    std::call_once(once, [] {
        using log4cplus::spi::AppenderFactory;
        using log4cplus::spi::FactoryTempl;
        auto& registry = log4cplus::spi::getAppenderFactoryRegistry();
        registry.put(std::make_unique<FactoryTempl<FileAppender, AppenderFactory>>(FileAppender::className));
        registry.put(
            std::make_unique<FactoryTempl<RollingFileAppender, AppenderFactory>>(RollingFileAppender::className));
        registry.put(std::make_unique<FactoryTempl<DailyRollingFileAppender, AppenderFactory>>(
            DailyRollingFileAppender::className));
    });
}
} // namespace scriblet
