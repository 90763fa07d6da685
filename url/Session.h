#pragma once
// One libcurl easy handle with the program's callbacks. A session belongs to the thread that performs its
// requests; only setMustCloseSocket may be called from another thread, to abort a transfer in progress.

#include "qcl/String.h"

#include <curl/curl.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace url
{
// Initialises libcurl for the life of the object; throws url::Error "Cannot initialise LibCurl".
class initialiseLibCurl
{
public:
    initialiseLibCurl();
    ~initialiseLibCurl();
    initialiseLibCurl(const initialiseLibCurl&) = delete;
    initialiseLibCurl& operator=(const initialiseLibCurl&) = delete;
};

class Session
{
public:
    using Writer = std::function<void(const char* data, std::size_t size)>;
    using HeaderCallback = std::function<void(qcl::string::basic_span<char> name, qcl::string::basic_span<char> value)>;
    using ProgressCallback = std::function<void(double dlTotal, double dlNow, double ulTotal, double ulNow)>;

    // An upload source, read once from its start.
    class IReader
    {
    public:
        virtual ~IReader() = default;
        // Fills up to size bytes; returns how many (0 at the end).
        virtual std::size_t read(char* buffer, std::size_t size) = 0;
    };

    // Every session: no signals, http and https only (redirects too), a 30 s connect time-out, less than
    // 512 bytes/s for 120 s ends a transfer, TCP keep-alive.
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Each throws url::Error "Cannot set LibCurl option <n>" when libcurl refuses.
    // long also serves the curl_off_t options: both are the same 64-bit type on this platform.
    void setOption(CURLoption option, long value);
    void setOption(CURLoption option, const char* value);
    void setOption(CURLoption option, void* value);
    // Also the protocols a redirect may go to: from an https address only https, so that what was asked for
    // over TLS never comes back in clear.
    void setUrl(const std::string& url);
    void addHeader(qcl::string::basic_span<char> name, qcl::string::basic_span<char> value);
    // CURLOPT_USERNAME and CURLOPT_PASSWORD, as UTF-8.
    void setCredentials(const std::wstring& userName, const std::wstring& password);
    // Every request body is sent at most once. When a kept-alive connection dies before any byte of the
    // answer, libcurl would send the request again on a new connection; the body refuses to be read again,
    // so the request ends with CURLE_SEND_FAIL_REWIND (a url::NetworkError) instead, and a change the server
    // may already have made is never made twice: the caller finds out what the server holds. A request
    // without a body (GET, DELETE) may still be sent again.
    //
    // A POST of the whole body, as its Content-Length says.
    void setPostBody(std::string body);
    // A multipart form with one part "file" (file name "*", application/octet-stream) read from reader.
    // 2 GiB or more throws url::FileTooBig before anything is set.
    void addFileToUploadWithMultiPartPost(std::uint64_t size, std::unique_ptr<IReader> reader);

    // Writer and header callback last for one request; the progress callback for the session's life.
    void setWriter(Writer writer) { mWriter = std::move(writer); }
    void setHeaderCallback(HeaderCallback callback) { mHeaderCallback = std::move(callback); }
    void setProgressCallback(ProgressCallback callback) { mProgressCallback = std::move(callback); }

    // Runs the prepared request and resets the per-request state. Returns when libcurl succeeded and the status
    // is below 400 or above 599; otherwise throws the url::Error class of the failure, or rethrows the exception
    // that a callback raised.
    void perform();

    // Any thread. true: shuts every socket of the session down (the transfer fails at once with a network error)
    // and refuses new sockets until called with false. The descriptors are closed by libcurl on its own thread.
    void setMustCloseSocket(bool mustClose);

    CURL* handle() const { return mCurl; }

private:
    static size_t writeCallback(char* data, size_t size, size_t count, void* session);
    static size_t headerCallback(char* line, size_t size, size_t count, void* session);
    static int progressCallback(void* session, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                                curl_off_t ulNow);
    static size_t readCallback(char* buffer, size_t size, size_t count, void* reader);
    static int seekCallback(void* source, curl_off_t offset, int origin);
    static curl_socket_t openSocket(void* session, curlsocktype purpose, struct curl_sockaddr* address);
    static int closeSocket(void* session, curl_socket_t socket);

    void reset() noexcept;
    void keepException() noexcept;

    Writer mWriter;
    HeaderCallback mHeaderCallback;
    struct UploadSource
    {
        Session* session;
        std::unique_ptr<IReader> reader;
    };
    UploadSource& addUploadSource(std::unique_ptr<IReader> reader);
    std::vector<std::unique_ptr<UploadSource>> mReaders;
    ProgressCallback mProgressCallback;
    std::exception_ptr mException;
    std::mutex mMutex; // guards mSockets and mMustCloseSocket
    std::vector<curl_socket_t> mSockets;
    bool mMustCloseSocket = false;
    curl_slist* mHeaders = nullptr;
    char mErrorBuffer[CURL_ERROR_SIZE] = {};
    CURL* mCurl = nullptr;
    curl_mime* mForm = nullptr;
};

// A writer that appends every block to a string of at most maximumSize bytes. A longer answer, or one that
// memory cannot hold, ends the request with url::NetworkError, as a broken transfer would.
class StringWriter
{
public:
    StringWriter(std::string* target, std::size_t maximumSize) : mTarget(target), mMaximumSize(maximumSize) {}
    void operator()(const char* data, std::size_t size) const;

private:
    std::string* mTarget;
    std::size_t mMaximumSize;
};
} // namespace url
