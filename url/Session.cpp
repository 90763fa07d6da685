#include "url/Session.h"

#include "qcl/Format.h"
#include "qcl/Log.h"
#include "url/Error.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>

static_assert(std::is_same_v<curl_off_t, long>, "setOption(long) serves the curl_off_t options");

namespace url
{
namespace
{
constexpr std::uint64_t kMaximumUploadSize = 2147483648ull; // 2 GiB
constexpr long kConnectTimeoutSeconds = 30;
// Below the smallest speed cap a server may set (1 KiB/s), so that a capped transfer never trips it, and far
// above a trickle that would hold a transfer open for ever.
constexpr long kLowSpeedLimitBytesPerSecond = 512;
constexpr long kLowSpeedTimeSeconds = 120;

bool isNetworkCode(CURLcode code)
{
    switch (code)
    {
    case CURLE_FAILED_INIT:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    // A request that could not be sent again, or an HTTP/2 stream or framing failure: a later attempt, on a
    // fresh connection, can cure them all.
    case CURLE_HTTP2:
    case CURLE_SEND_FAIL_REWIND:
    case CURLE_HTTP2_STREAM:
    // An answer announced longer than the request allows: refused like one cut short.
    case CURLE_FILESIZE_EXCEEDED: return true;
    default: return false;
    }
}

bool startsWithNoCase(const std::string& text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

bool isClassicSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class StringReader : public Session::IReader
{
public:
    explicit StringReader(std::string text) : mText(std::move(text)) {}
    std::size_t read(char* buffer, std::size_t size) override
    {
        const std::size_t n = mText.copy(buffer, size, mOffset);
        mOffset += n;
        return n;
    }

private:
    std::string mText;
    std::size_t mOffset = 0;
};
} // namespace

initialiseLibCurl::initialiseLibCurl()
{
    const CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
    if (result != CURLE_OK)
        throw Error(result, L"Cannot initialise LibCurl");
}

initialiseLibCurl::~initialiseLibCurl()
{
    curl_global_cleanup();
}

Session::Session() : mCurl(curl_easy_init())
{
    if (!mCurl)
        throw std::bad_alloc();
    try
    {
        setOption(CURLOPT_FAILONERROR, 0L);
        mErrorBuffer[0] = 0;
        setOption(CURLOPT_ERRORBUFFER, static_cast<void*>(mErrorBuffer));
        setOption(CURLOPT_OPENSOCKETDATA, static_cast<void*>(this));
        setOption(CURLOPT_OPENSOCKETFUNCTION, reinterpret_cast<void*>(&Session::openSocket));
        setOption(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(this));
        setOption(CURLOPT_CLOSESOCKETFUNCTION, reinterpret_cast<void*>(&Session::closeSocket));
        setOption(CURLOPT_NOPROGRESS, 0L);
        setOption(CURLOPT_XFERINFODATA, static_cast<void*>(this));
        setOption(CURLOPT_XFERINFOFUNCTION, reinterpret_cast<void*>(&Session::progressCallback));
        setOption(CURLOPT_WRITEDATA, static_cast<void*>(this));
        setOption(CURLOPT_WRITEFUNCTION, reinterpret_cast<void*>(&Session::writeCallback));
        setOption(CURLOPT_HEADERDATA, static_cast<void*>(this));
        setOption(CURLOPT_HEADERFUNCTION, reinterpret_cast<void*>(&Session::headerCallback));
        // A transfer on a worker thread must never raise signals; a silently dropped link must end in an error
        // instead of hanging; an address from the network must not reach other protocols or local files.
        setOption(CURLOPT_NOSIGNAL, 1L);
        setOption(CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        setOption(CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytesPerSecond);
        setOption(CURLOPT_LOW_SPEED_TIME, kLowSpeedTimeSeconds);
        setOption(CURLOPT_TCP_KEEPALIVE, 1L);
        setOption(CURLOPT_PROTOCOLS_STR, "http,https");
        setOption(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    }
    catch (...)
    {
        curl_easy_cleanup(mCurl);
        throw;
    }
}

Session::~Session()
{
    curl_easy_cleanup(mCurl);
    curl_mime_free(mForm);
    curl_slist_free_all(mHeaders);
}

void Session::setOption(CURLoption option, long value)
{
    const CURLcode result = curl_easy_setopt(mCurl, option, value);
    if (result != CURLE_OK)
        throw Error(result, qcl::format(L"Cannot set LibCurl option %1%", static_cast<int>(option)));
}

void Session::setOption(CURLoption option, const char* value)
{
    const CURLcode result = curl_easy_setopt(mCurl, option, value);
    if (result != CURLE_OK)
        throw Error(result, qcl::format(L"Cannot set LibCurl option %1%", static_cast<int>(option)));
}

void Session::setOption(CURLoption option, void* value)
{
    const CURLcode result = curl_easy_setopt(mCurl, option, value);
    if (result != CURLE_OK)
        throw Error(result, qcl::format(L"Cannot set LibCurl option %1%", static_cast<int>(option)));
}

void Session::setUrl(const std::string& url)
{
    setOption(CURLOPT_URL, url.c_str());
    setOption(CURLOPT_REDIR_PROTOCOLS_STR, startsWithNoCase(url, "https:") ? "https" : "http,https");
}

void Session::addHeader(qcl::string::basic_span<char> name, qcl::string::basic_span<char> value)
{
    const std::string line = name.str() + ": " + value.str();
    curl_slist* list = curl_slist_append(mHeaders, line.c_str());
    if (!list)
        throw std::bad_alloc();
    mHeaders = list;
}

void Session::setCredentials(const std::wstring& userName, const std::wstring& password)
{
    setOption(CURLOPT_USERNAME, qcl::string::utf16ToUtf8(userName).c_str());
    setOption(CURLOPT_PASSWORD, qcl::string::utf16ToUtf8(password).c_str());
}

Session::UploadSource& Session::addUploadSource(std::unique_ptr<IReader> reader)
{
    mReaders.push_back(std::make_unique<UploadSource>(UploadSource{this, std::move(reader)}));
    return *mReaders.back();
}

void Session::setPostBody(std::string body)
{
    const auto size = static_cast<long>(body.size());
    UploadSource& source = addUploadSource(std::make_unique<StringReader>(std::move(body)));
    setOption(CURLOPT_POST, 1L);
    setOption(CURLOPT_POSTFIELDSIZE_LARGE, size);
    setOption(CURLOPT_READFUNCTION, reinterpret_cast<void*>(&Session::readCallback));
    setOption(CURLOPT_READDATA, static_cast<void*>(&source));
    setOption(CURLOPT_SEEKFUNCTION, reinterpret_cast<void*>(&Session::seekCallback));
}

void Session::addFileToUploadWithMultiPartPost(std::uint64_t size, std::unique_ptr<IReader> reader)
{
    if (size >= kMaximumUploadSize)
        throw FileTooBig();
    UploadSource& source = addUploadSource(std::move(reader));
    if (!mForm)
    {
        mForm = curl_mime_init(mCurl);
        if (!mForm)
            throw std::bad_alloc();
    }
    curl_mimepart* part = curl_mime_addpart(mForm);
    if (!part)
        throw std::bad_alloc();
    CURLcode result = curl_mime_name(part, "file");
    if (result == CURLE_OK)
        result = curl_mime_filename(part, "*");
    if (result == CURLE_OK)
        result = curl_mime_type(part, "application/octet-stream");
    if (result == CURLE_OK)
        result = curl_mime_data_cb(part, static_cast<curl_off_t>(size), &Session::readCallback,
                                   &Session::seekCallback, nullptr, &source);
    if (result != CURLE_OK)
        throw Error(result, L"Cannot create multipart post");
    setOption(CURLOPT_MIMEPOST, static_cast<void*>(mForm));
}

void Session::perform()
{
    CURLcode result;
    try
    {
        setOption(CURLOPT_HTTPHEADER, static_cast<void*>(mHeaders));
        mErrorBuffer[0] = 0;
        result = curl_easy_perform(mCurl);
    }
    catch (...)
    {
        reset();
        throw;
    }
    reset();

    if (result == CURLE_OK || result == CURLE_HTTP_RETURNED_ERROR)
    {
        long status = 0;
        curl_easy_getinfo(mCurl, CURLINFO_RESPONSE_CODE, &status);
        throwHttpError(status);
        return;
    }
    if ((result == CURLE_WRITE_ERROR || result == CURLE_ABORTED_BY_CALLBACK) && mException)
    {
        std::exception_ptr kept;
        std::swap(kept, mException);
        std::rethrow_exception(kept);
    }
    const std::wstring text =
        qcl::string::utf8ToUtf16Lenient(std::string(mErrorBuffer, strnlen(mErrorBuffer, sizeof mErrorBuffer)));
    if (isNetworkCode(result) || result == CURLE_WRITE_ERROR || result == CURLE_ABORTED_BY_CALLBACK)
        throw NetworkError(result, text);
    throw Error(result, text);
}

void Session::reset() noexcept
{
    curl_easy_setopt(mCurl, CURLOPT_CUSTOMREQUEST, static_cast<char*>(nullptr));
    curl_easy_setopt(mCurl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_easy_setopt(mCurl, CURLOPT_POSTFIELDS, static_cast<char*>(nullptr));
    curl_easy_setopt(mCurl, CURLOPT_READDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(mCurl, CURLOPT_READFUNCTION, static_cast<void*>(nullptr));
    curl_easy_setopt(mCurl, CURLOPT_SEEKFUNCTION, static_cast<void*>(nullptr));
    curl_easy_setopt(mCurl, CURLOPT_URL, static_cast<char*>(nullptr));
    curl_easy_setopt(mCurl, CURLOPT_MIMEPOST, static_cast<curl_mime*>(nullptr));
    curl_easy_setopt(mCurl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(mCurl, CURLOPT_POST, 0L);
    curl_easy_setopt(mCurl, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(mCurl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(mCurl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(mCurl, CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(mCurl, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(mCurl, CURLOPT_HTTPGET, 1L);

    curl_slist_free_all(mHeaders);
    mHeaders = nullptr;
    curl_mime_free(mForm);
    mForm = nullptr;
    mWriter = nullptr;
    mHeaderCallback = nullptr;
    mReaders.clear();
}

void Session::keepException() noexcept
{
    mException = std::current_exception();
}

size_t Session::writeCallback(char* data, size_t size, size_t count, void* session)
{
    auto* self = static_cast<Session*>(session);
    const size_t n = size * count;
    try
    {
        if (self->mWriter)
            self->mWriter(data, n);
        return n;
    }
    catch (...)
    {
        self->keepException();
        return 0;
    }
}

size_t Session::headerCallback(char* line, size_t size, size_t count, void* session)
{
    auto* self = static_cast<Session*>(session);
    const size_t n = size * count;
    try
    {
        if (self->mHeaderCallback && n > 0)
        {
            const char* end = line + n;
            const char* colon = std::find(static_cast<const char*>(line), end, ':');
            if (colon != end)
            {
                const char* valueBegin = colon + 1;
                while (valueBegin != end && isClassicSpace(*valueBegin))
                    ++valueBegin;
                const char* valueEnd = end;
                while (valueEnd != valueBegin && isClassicSpace(valueEnd[-1]))
                    --valueEnd;
                self->mHeaderCallback(qcl::string::basic_span<char>(line, static_cast<size_t>(colon - line)),
                                      qcl::string::basic_span<char>(valueBegin, static_cast<size_t>(valueEnd - valueBegin)));
            }
        }
        return n;
    }
    catch (...)
    {
        self->keepException();
        return 0;
    }
}

int Session::progressCallback(void* session, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                              curl_off_t ulNow)
{
    auto* self = static_cast<Session*>(session);
    try
    {
        if (self->mProgressCallback)
            self->mProgressCallback(static_cast<double>(dlTotal), static_cast<double>(dlNow),
                                    static_cast<double>(ulTotal), static_cast<double>(ulNow));
        return 0;
    }
    catch (...)
    {
        self->keepException();
        return 1;
    }
}

size_t Session::readCallback(char* buffer, size_t size, size_t count, void* reader)
{
    auto* source = static_cast<UploadSource*>(reader);
    try
    {
        return source->reader->read(buffer, size * count);
    }
    catch (...)
    {
        source->session->keepException();
        return CURL_READFUNC_ABORT;
    }
}

int Session::seekCallback(void*, curl_off_t, int)
{
    // libcurl rewinds a body only to send its request again: refused (see setPostBody).
    return CURL_SEEKFUNC_CANTSEEK;
}

curl_socket_t Session::openSocket(void* session, curlsocktype, struct curl_sockaddr* address)
{
    auto* self = static_cast<Session*>(session);
    std::lock_guard lock(self->mMutex);
    if (self->mMustCloseSocket)
        return CURL_SOCKET_BAD;
    // Close-on-exec, so a program started meanwhile never inherits the link to the server.
    const int socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket < 0)
    {
        QCL_LOG_ERROR(L"Cannot open socket");
        return CURL_SOCKET_BAD;
    }
    try
    {
        self->mSockets.push_back(socket);
    }
    catch (...)
    {
        ::close(socket);
        return CURL_SOCKET_BAD;
    }
    return socket;
}

int Session::closeSocket(void* session, curl_socket_t socket)
{
    auto* self = static_cast<Session*>(session);
    std::lock_guard lock(self->mMutex);
    const auto found = std::find(self->mSockets.begin(), self->mSockets.end(), socket);
    if (found == self->mSockets.end())
        return 0;
    if (::close(socket) != 0)
    {
        QCL_LOG_ERROR(L"Cannot close socket " << socket);
        return 1;
    }
    self->mSockets.erase(found);
    return 0;
}

void Session::setMustCloseSocket(bool mustClose)
{
    std::lock_guard lock(mMutex);
    mMustCloseSocket = mustClose;
    if (!mustClose)
        return;
    // shutdown wakes a transfer blocked on the socket at once; the descriptor stays open until libcurl closes it
    // on its own thread, so its number cannot be reused by another file while libcurl still uses it.
    // A socket still connecting is disconnected by shutdown too; ENOTCONN only comes from one just opened.
    for (const curl_socket_t socket : mSockets)
        if (::shutdown(socket, SHUT_RDWR) != 0 && errno != ENOTCONN)
            QCL_LOG_ERROR(L"Cannot shut down socket " << socket);
}

void StringWriter::operator()(const char* data, std::size_t size) const
{
    if (mTarget->size() + size > mMaximumSize)
        throw NetworkError(CURLE_FILESIZE_EXCEEDED,
                           qcl::format(L"The answer is longer than %1% bytes", mMaximumSize));
    try
    {
        mTarget->append(data, size);
    }
    catch (const std::bad_alloc&)
    {
        throw NetworkError(CURLE_OUT_OF_MEMORY,
                           qcl::format(L"Not enough memory for an answer of %1% bytes", mTarget->size() + size));
    }
}
} // namespace url
