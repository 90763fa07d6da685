#include "app/UpgradeDownloader.h"

#include "api/ContentFile.h"
#include "app/InstallerFileName.h"
#include "compat/KnownFolders.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "qcl/Error.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/String.h"
#include "qcl/qcl_scope.h"
#include "url/Error.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace dwl
{
namespace
{
// $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
std::wstring userCacheFolder()
{
    const char* configured = std::getenv("XDG_CACHE_HOME");
    if (configured != nullptr && configured[0] == '/')
        return qcl::string::utf8ToUtf16(configured);
    const std::optional<std::wstring> home = compat::knownFolderPath(FOLDERID_Profile);
    if (!home || home->empty())
        throw qcl::basic_runtime_error<wchar_t>(
            L"Cannot find the user's cache folder: no home folder is known");
    return *home + L"/.cache";
}

// The reasons the user is told; the technical detail goes to the log.
const wchar_t* const connectionLost = L"The connection to the server was lost.";
const wchar_t* const serverUnreachable = L"The server could not be reached.";
const wchar_t* const serverRefused = L"The server refused to send the update.";
const wchar_t* const notHttps = L"The address of the update is not an https address.";
const wchar_t* const tooLarge = L"The update is larger than 512 MiB.";
static_assert(UpgradeDownloader::kMaximumInstallerSize == std::uint64_t(512) << 20);

// A failure of the download whose reason is one of the above.
class DownloadFailure : public qcl::basic_runtime_error<wchar_t>
{
public:
    DownloadFailure(const wchar_t* reason, const std::wstring& detail)
        : basic_runtime_error(detail), mReason(reason)
    {
    }
    const wchar_t* reason() const { return mReason; }

private:
    const wchar_t* mReason;
};

bool startsWithNoCase(const std::string& text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// The scheme is http or https, written in any case.
void checkUrl(const std::string& url)
{
    if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://"))
        throw DownloadFailure(notHttps, qcl::format(L"Bad URL '%1%'", url));
}

// A new folder only the user can enter (mode 0700), with an unpredictable name, in the user's cache folder.
std::wstring createPrivateTemporaryFolder()
{
    const std::wstring cache = userCacheFolder();
    // A missing cache folder is the user's alone, as the base-directory convention asks, whatever the umask.
    if (!compat::createPrivateFolders(qcl::string::utf16ToUtf8(cache)))
        throw qcl::SystemError(qcl::format(L"Cannot create directory '%1%'", cache), GetLastError());
    // In a folder that others may write to (an older version made it so under umask 000) they could put a
    // folder of theirs in place of the installer's.
    struct stat status = {};
    if (::stat(qcl::string::utf16ToUtf8(cache).c_str(), &status) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot use folder '%1%'", cache),
                               compat::windowsErrorFromErrno(errno));
    if ((status.st_uid != ::geteuid() && status.st_uid != 0) ||
        ((status.st_mode & 022) != 0 && (status.st_mode & S_ISVTX) == 0))
        throw qcl::basic_runtime_error<wchar_t>(
            qcl::format(L"Cannot use folder '%1%': others may write to it", cache));
    std::string pattern = qcl::string::utf16ToUtf8(cache + L"/quillmere-wayfold-upgrade-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr)
        throw qcl::SystemError(
            qcl::format(L"Cannot create directory '%1%'", qcl::string::utf8ToUtf16(pattern)),
            compat::windowsErrorFromErrno(errno, pattern.c_str()));
    return qcl::string::utf8ToUtf16(pattern);
}

void removeFolder(const std::wstring& folder)
{
    std::error_code error;
    std::filesystem::remove_all(qcl::string::utf16ToUtf8(folder), error);
    if (error)
        QCL_LOG_ERROR(L"Cannot remove directory " << qcl::string::escaped(folder, L'\'') << L": "
                                                  << qcl::string::utf8ToUtf16Lenient(error.message()));
}

// Whether a body without an announced length ends with a mark of its own, so that a cut one is told from a
// whole one: a chunked answer ends with its last chunk, an answer of HTTP/2 or later with the end of its
// stream.
bool marksItsEnd(CURL* curl)
{
    long version = 0;
    curl_easy_getinfo(curl, CURLINFO_HTTP_VERSION, &version);
    if (version >= CURL_HTTP_VERSION_2_0)
        return true;
    curl_header* encoding = nullptr;
    if (curl_easy_header(curl, "Transfer-Encoding", 0, CURLH_HEADER, -1, &encoding) != CURLHE_OK)
        return false;
    std::string value = encoding->value;
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return value.find("chunked") != std::string::npos;
}

// Only the body of a final 200 answer whose end is certain is the installer; checked when its first bytes
// arrive, so that nothing else is written to the disk. The announced length, or -1 for none.
curl_off_t checkAnnouncedInstaller(CURL* curl)
{
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200)
        throw DownloadFailure(serverRefused, qcl::format(L"Unexpected HTTP status %1%", status));
    curl_off_t announced = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced < 0 && !marksItsEnd(curl))
        throw DownloadFailure(serverRefused,
                              L"The server sent the installer without its length or a mark of its end");
    return announced;
}

// After the transfer: an answer without a body (a 204, an empty 200) is no installer either, and a body must
// be all of what was announced. libcurl fails a marked answer whose end did not come.
void checkWholeInstaller(CURL* curl, std::uint64_t received)
{
    const curl_off_t announced = checkAnnouncedInstaller(curl);
    if (announced == 0 || received == 0)
        throw DownloadFailure(serverRefused, L"The server sent an empty installer");
    if (announced > 0 && static_cast<std::uint64_t>(announced) != received)
        throw DownloadFailure(connectionLost, qcl::format(L"Received %1% bytes instead of the %2% announced",
                                                          received, announced));
}

// What the user is told: one of the reasons above for a failure of the transfer, the system's text of a
// failed system call, else the text of the failure (the cache folder's own).
std::wstring reasonOfCurrentFailure()
{
    try
    {
        throw;
    }
    catch (const DownloadFailure& failure)
    {
        return failure.reason();
    }
    catch (const url::HttpError&)
    {
        return serverRefused;
    }
    catch (const url::Error& error)
    {
        switch (error.code.category() == url::curlCategory() ? error.code.value() : -1)
        {
        case CURLE_FILESIZE_EXCEEDED:
            return tooLarge;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return notHttps;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            return serverUnreachable;
        default:
            return connectionLost;
        }
    }
    catch (const qcl::SystemError& error)
    {
        return error.systemText();
    }
    catch (...)
    {
        return qcl::currentExceptionMessage();
    }
}
} // namespace

UpgradeDownloader::UpgradeDownloader()
{
    mSession.setOption(CURLOPT_FOLLOWLOCATION, 1L);
    mSession.setOption(CURLOPT_MAXREDIRS, 10L);
}

UpgradeDownloader::~UpgradeDownloader()
{
    wait();
}

void UpgradeDownloader::start()
{
    if (isRunning())
    {
        QCL_LOG_WARN(L"An upgrade download is already in progress");
        return;
    }
    mLastPercent = -1;
    mSession.setProgressCallback([this](double total, double now, double, double)
                                 { onProgress(total, now); });
    mTask = std::async(std::launch::async, [this] { download(); });
}

void UpgradeDownloader::wait()
{
    if (!isRunning())
        return;
    qcl::scope::Guard allowSockets([this] { mSession.setMustCloseSocket(false); });
    mSession.setMustCloseSocket(true);
    mTask.get();
}

bool UpgradeDownloader::isRunning() const
{
    return mTask.valid() && mTask.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

void UpgradeDownloader::onProgress(double total, double now)
{
    if (total <= 0 || mCallback == nullptr)
        return;
    const int percent = static_cast<int>(std::min(100.0, std::floor(now * 100 / total)));
    if (percent == mLastPercent)
        return;
    mLastPercent = percent;
    mCallback->onUpgradeDownloadProgress(percent);
}

void UpgradeDownloader::download()
{
    std::wstring installer;
    std::optional<std::wstring> failure;
    try
    {
        installer = downloadInstaller();
    }
    catch (...)
    {
        QCL_LOG_ERROR(L"!!! Cannot download upgrade: " << qcl::currentExceptionMessage());
        failure = reasonOfCurrentFailure();
    }
    if (mCallback == nullptr)
        return;
    try
    {
        if (failure)
            mCallback->onUpgradeDownloadFailed(*failure);
        else
            mCallback->onUpgradeDownloadFinished(installer);
    }
    catch (...)
    {
        QCL_LOG_ERROR(L"Cannot report the end of the upgrade download: " << qcl::currentExceptionMessage());
    }
}

std::wstring UpgradeDownloader::downloadInstaller()
{
    std::wstring folder;
    try
    {
        checkUrl(mUrl);
        folder = createPrivateTemporaryFolder();
        // Created without any execute permission: the user installs it, nothing here runs it.
        const std::wstring path = folder + L'/' + installerFileName(mUrl, mInstallerFileName);
        qcl::Handle file =
            qcl::file::open(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
        QCL_LOG_TRACE(L">>> Downloading upgrade to " << qcl::string::escaped(path, L'\''));
        rewindFile(file.get());
        std::uint64_t received = 0;
        mSession.setOption(CURLOPT_MAXFILESIZE_LARGE, static_cast<long>(kMaximumInstallerSize));
        mSession.setWriter(
            [this, &received, writer = FileWriter(file.get(), &received)](const char* data, std::size_t size)
            {
                if (received == 0)
                    checkAnnouncedInstaller(mSession.handle());
                // An answer without a length is held to the same bound as one that announces it.
                if (size > kMaximumInstallerSize - received)
                    throw DownloadFailure(tooLarge, qcl::format(L"The installer is longer than %1% bytes",
                                                                kMaximumInstallerSize));
                writer(data, size);
            });
        mSession.setUrl(mUrl);
        mSession.perform();
        checkWholeInstaller(mSession.handle(), received);
        file.closeOrThrow();
        QCL_LOG_TRACE(L"<<< Finished downloading upgrade " << qcl::string::escaped(path, L'\''));
        return path;
    }
    catch (...)
    {
        if (!folder.empty())
            removeFolder(folder);
        throw;
    }
}
} // namespace dwl
