#include "scriblet/SharedLogFile.h"

#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/String.h"

#include <log4cplus/helpers/loglog.h>

namespace scriblet
{
namespace
{
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

void reportFailure(const std::string& path)
{
    log4cplus::helpers::getLogLog().error(
        "Cannot use log file " + path + ": " +
        qcl::string::utf16ToUtf8Lenient(qcl::systemErrorText(GetLastError())));
}

compat::PrivateFile openPrivately(const std::string& path)
{
    compat::PrivateFile file;
    const std::string folder = folderOf(path);
    if ((folder.empty() || compat::createPrivateFolders(folder)) &&
        file.open(path, compat::PrivateFile::Creation::OpenOrCreate))
        return file;
    reportFailure(path);
    return file;
}
} // namespace

SharedLogFile::SharedLogFile(const log4cplus::helpers::Properties& properties)
    : mAppenderProperties(properties)
{
    const std::string path = properties.getProperty("File");
    if (path.empty())
        return;
    mLockFile = openPrivately(path);
    if (!mLockFile.isOpen())
        mAppenderProperties.setProperty("File", "");
}

bool SharedLogFile::prepare(const std::string& path)
{
    return openPrivately(path).isOpen();
}

SharedLogFile::Guard::Guard(SharedLogFile& file)
    : mFile(file.mLockFile), mLocked(mFile.isOpen() && mFile.lock())
{
}

SharedLogFile::Guard::~Guard()
{
    if (mLocked)
        mFile.unlock();
}
} // namespace scriblet
