// The frame of the REST client: settings, the five request functions, the CSRF token, the genuine-server check,
// server error bodies and the URL builders.

#include "api/AnswerReaders.h"
#include "api/ContentFile.h"
#include "api/ServerError.h"
#include "api/WayfoldApi.h"
#include "qcl/Format.h"
#include "qcl/Log.h"

#include <chrono>
#include <memory>
#include <new>
#include <string_view>

namespace dwl
{
namespace
{
constexpr std::string_view kServiceHeader = "Service";
constexpr std::string_view kGenuineService = "Wayfold Web Services";
constexpr std::string_view kSetCookieHeader = "Set-Cookie";
constexpr std::string_view kCsrfCookie = "CSRFToken=";

// Header names are compared without regard to case: over HTTP/2 they arrive in lower case.
bool sameName(qcl::string::basic_span<char> name, std::string_view wanted)
{
    if (name.size() != wanted.size())
        return false;
    for (std::size_t i = 0; i < wanted.size(); ++i)
    {
        const char a = name.data()[i];
        const char b = wanted[i];
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a) != lower(b))
            return false;
    }
    return true;
}

// Server text in a log line; never throws on malformed UTF-8.
std::wstring logText(const std::string& text)
{
    return qcl::string::utf8ToUtf16Lenient(text);
}

long bytesPerSecond(std::uint32_t kiBPerSecond)
{
    return static_cast<long>(kiBPerSecond) * 1024;
}

class Stopwatch
{
public:
    long long seconds() const
    {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - mStart).count();
    }

private:
    std::chrono::steady_clock::time_point mStart = std::chrono::steady_clock::now();
};
} // namespace

WayfoldApi::WayfoldApi()
{
    mSession.setOption(CURLOPT_COOKIEFILE, "");
}

void WayfoldApi::setServerUrl(std::string url)
{
    mUserId = qcl::uint128();
    mServerUrl = std::move(url);
}

void WayfoldApi::setCredentials(const std::wstring& userName, const std::wstring& password)
{
    mUserId = qcl::uint128();
    mUserName = qcl::string::utf16ToUtf8(userName);
    mSession.setCredentials(userName, password);
    mSession.setOption(CURLOPT_COOKIELIST, "ALL");
    mCsrfToken.clear();
}

void WayfoldApi::setMustCloseSocket(bool mustClose)
{
    mSession.setMustCloseSocket(mustClose);
}

std::string WayfoldApi::performGetRequest(const std::string& url, const char* mediaType)
{
    std::string answer;
    mSession.setUrl(url);
    mSession.addHeader(std::string("Accept"), std::string(mediaType));
    mSession.addHeader(std::string("Accept-Charset"), std::string(kCharset));
    mSession.setWriter(url::StringWriter(&answer, mMaximumAnswerSize));
    QCL_LOG_TRACE(L">>> HTTP GET " << logText(url));
    QCL_LOG_TRACE(L">>> API version = " << logText(mediaType));
    performRequest("GET", url, &answer);
    QCL_LOG_TRACE(L"<<< Response = " << logText(answer));
    return answer;
}

void WayfoldApi::performGetRequest(const std::string& url, HANDLE file, std::uint32_t limitKiBPerSecond)
{
    rewindFile(file);
    std::uint64_t bytes = 0;
    mSession.setUrl(url);
    mSession.setOption(CURLOPT_MAX_RECV_SPEED_LARGE, bytesPerSecond(limitKiBPerSecond));
    mSession.setWriter(FileWriter(file, &bytes));
    QCL_LOG_TRACE(L">>> Downloading document by HTTP GET " << logText(url));
    const Stopwatch stopwatch;
    performRequest("GET", url, nullptr);
    QCL_LOG_TRACE(L"<<< Downloaded " << qcl::formatByteCount(bytes) << L" (" << bytes << L" bytes) in "
                                     << stopwatch.seconds() << L" seconds");
}

std::string WayfoldApi::performPostRequest(const std::string& url, const std::string& body, const char* mediaType)
{
    std::string answer;
    mSession.setUrl(url);
    mSession.setPostBody(body);
    mSession.addHeader(std::string("Content-Type"), std::string(mediaType));
    mSession.addHeader(std::string("Accept"), std::string(mediaType));
    mSession.addHeader(std::string("Accept-Charset"), std::string(kCharset));
    mSession.setWriter(url::StringWriter(&answer, mMaximumAnswerSize));
    QCL_LOG_TRACE(L">>> HTTP POST " << logText(url));
    QCL_LOG_TRACE(L">>> API version = " << logText(mediaType));
    QCL_LOG_TRACE(L">>> Request = " << logText(body));
    performRequest("POST", url, &answer);
    QCL_LOG_TRACE(L"<<< Response = " << logText(answer));
    return answer;
}

std::string WayfoldApi::performPostRequest(const std::string& url, HANDLE file, std::uint32_t limitKiBPerSecond,
                                           const char* mediaType)
{
    const std::uint64_t size = rewindFile(file);
    std::uint64_t bytes = 0;
    // First, so that a refused size leaves nothing of this request in the session.
    mSession.addFileToUploadWithMultiPartPost(size, std::make_unique<FileReader>(file, size, &bytes));
    std::string answer;
    mSession.setUrl(url);
    mSession.setOption(CURLOPT_MAX_SEND_SPEED_LARGE, bytesPerSecond(limitKiBPerSecond));
    mSession.addHeader(std::string("Accept"), std::string(mediaType));
    mSession.addHeader(std::string("Accept-Charset"), std::string(kCharset));
    mSession.setWriter(url::StringWriter(&answer, mMaximumAnswerSize));
    QCL_LOG_TRACE(L">>> Uploading document by HTTP POST " << logText(url));
    QCL_LOG_TRACE(L">>> API version = " << logText(mediaType));
    const Stopwatch stopwatch;
    performRequest("POST", url, &answer);
    QCL_LOG_TRACE(L"<<< Uploaded " << qcl::formatByteCount(bytes) << L" (" << bytes << L" bytes) in "
                                   << stopwatch.seconds() << L" seconds");
    QCL_LOG_TRACE(L"<<< Response = " << logText(answer));
    return answer;
}

void WayfoldApi::performDeleteRequest(const std::string& url)
{
    mSession.setUrl(url);
    mSession.setOption(CURLOPT_CUSTOMREQUEST, "DELETE");
    QCL_LOG_TRACE(L">>> HTTP DELETE " << logText(url));
    performRequest("DELETE", url, nullptr);
    QCL_LOG_TRACE(L"<<< OK");
}

void WayfoldApi::performRemoval(const std::string& url)
{
    try
    {
        performDeleteRequest(url);
    }
    catch (const url::NotFoundError& error)
    {
        QCL_LOG_TRACE(L"<<< Removed already: " << error.message());
    }
}

void WayfoldApi::throwUnreadableAnswer(const char* method, const std::string& url)
{
    const std::wstring context = qcl::format(L"Cannot %1% %2%", method, logText(url));
    try
    {
        throw;
    }
    catch (const std::bad_alloc&)
    {
        throw url::NetworkError(CURLE_OUT_OF_MEMORY, context + L": Not enough memory to read the answer");
    }
    catch (InconsistentServerResponse& error)
    {
        error.prependMessage(context);
        throw;
    }
    catch (const std::exception&)
    {
        throw InconsistentServerResponse(context + L": The answer cannot be read: " + qcl::currentExceptionMessage());
    }
}

void WayfoldApi::performRequest(const char* method, const std::string& url, const std::string* errorBody)
{
    try
    {
        performRequestAndCheckServer();
    }
    catch (url::Error& e)
    {
        QCL_LOG_TRACE(L"!!! " << e.message());
        if (errorBody != nullptr)
            parseServerErrorResponse(*errorBody, e);
        e.prependMessage(qcl::format(L"Cannot %1% %2%", method, logText(url)));
        throw;
    }
}

void WayfoldApi::performRequestAndCheckServer()
{
    if (!mCsrfToken.empty())
        mSession.addHeader(std::string("CSRFToken"), mCsrfToken);
    bool serviceHeaderSeen = false;
    mSession.setHeaderCallback(
        [this, &serviceHeaderSeen](qcl::string::basic_span<char> name, qcl::string::basic_span<char> value) {
            const std::string_view text(value.data(), value.size());
            if (sameName(name, kServiceHeader))
            {
                serviceHeaderSeen = text == kGenuineService;
            }
            else if (sameName(name, kSetCookieHeader) && text.size() >= kCsrfCookie.size() &&
                     text.substr(0, kCsrfCookie.size()) == kCsrfCookie)
            {
                const std::string_view rest = text.substr(kCsrfCookie.size());
                mCsrfToken = std::string(rest.substr(0, rest.find(';')));
                QCL_LOG_TRACE(L"Received new CSRF token " << logText(mCsrfToken));
            }
        });
    try
    {
        mSession.perform();
    }
    catch (const url::HttpAuthenticationError&)
    {
        throw;
    }
    catch (const url::HttpError&)
    {
        throwNotGenuineServer(serviceHeaderSeen);
        throw;
    }
    throwNotGenuineServer(serviceHeaderSeen);
}

void WayfoldApi::throwNotGenuineServer(bool serviceHeaderSeen) const
{
    if (!mCheckForGenuineServer || serviceHeaderSeen)
        return;
    url::ServerSideError error(503, std::wstring());
    error.setMessage(L"Not recognised as a genuine Wayfold server: Server response does not contain a 'Service' "
                     L"header set to 'Wayfold Web Services'");
    throw error;
}

void WayfoldApi::parseServerErrorResponse(const std::string& body, url::Error& error)
{
    if (!dynamic_cast<url::ForbiddenError*>(&error) || body.empty())
        return;
    QCL_LOG_TRACE(L"Parsing error response : " << logText(body));
    try
    {
        const answer::ServerErrorBody parsed = answer::serverError(body);
        const ServerErrorCode code = parseServerErrorCode(parsed.key);
        std::wstring trimmed = parsed.message;
        while (!trimmed.empty() && trimmed.back() == L'.')
            trimmed.pop_back();
        QCL_LOG_TRACE(L"Server error key = " << logText(parsed.key) << L", code = " << code << L", message = "
                                             << trimmed);
        error.code = make_error_code(code);
        error.serverMessage = parsed.message;
        error.setMessage(qcl::format(L"Wayfold server error '%1%': %2%", logText(parsed.key), trimmed));
    }
    catch (...)
    {
        QCL_LOG_ERROR(L"Cannot parse error response: " << qcl::currentExceptionMessage());
        error.appendMessage(qcl::format(L"Wayfold server error: %1%", logText(body)));
    }
}

std::string WayfoldApi::sharesUrl() const
{
    return mServerUrl + "/shares";
}

std::string WayfoldApi::shareUrl(const qcl::uint128& shareId) const
{
    return sharesUrl() + "/" + shareId.str();
}

std::string WayfoldApi::assetsUrl(const qcl::uint128& shareId) const
{
    return shareUrl(shareId) + "/assets";
}

std::string WayfoldApi::assetUrl(const IdPair& asset) const
{
    return assetsUrl(asset.first) + "/" + asset.second.str();
}

std::string WayfoldApi::contentsUrl(const IdPair& asset) const
{
    return assetUrl(asset) + "/contents";
}

std::string WayfoldApi::latestContentUrl(const IdPair& asset) const
{
    return contentsUrl(asset) + "/latest";
}
} // namespace dwl
