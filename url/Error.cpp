#include "url/Error.h"

#include "qcl/Format.h"
#include "qcl/String.h"

#include <curl/curl.h>

#include <algorithm>
#include <iterator>

namespace url
{
namespace
{
struct CurlName
{
    int code;
    const char* name;
};

// The names of the libcurl codes; codes that libcurl left unused or retired have none.
constexpr CurlName kCurlNames[] = {
    {0, "CURLE_OK"},
    {1, "CURLE_UNSUPPORTED_PROTOCOL"},
    {2, "CURLE_FAILED_INIT"},
    {3, "CURLE_URL_MALFORMAT"},
    {4, "CURLE_NOT_BUILT_IN"},
    {5, "CURLE_COULDNT_RESOLVE_PROXY"},
    {6, "CURLE_COULDNT_RESOLVE_HOST"},
    {7, "CURLE_COULDNT_CONNECT"},
    {8, "CURLE_FTP_WEIRD_SERVER_REPLY"},
    {9, "CURLE_REMOTE_ACCESS_DENIED"},
    {10, "CURLE_FTP_ACCEPT_FAILED"},
    {11, "CURLE_FTP_WEIRD_PASS_REPLY"},
    {12, "CURLE_FTP_ACCEPT_TIMEOUT"},
    {13, "CURLE_FTP_WEIRD_PASV_REPLY"},
    {14, "CURLE_FTP_WEIRD_227_FORMAT"},
    {15, "CURLE_FTP_CANT_GET_HOST"},
    {17, "CURLE_FTP_COULDNT_SET_TYPE"},
    {18, "CURLE_PARTIAL_FILE"},
    {19, "CURLE_FTP_COULDNT_RETR_FILE"},
    {21, "CURLE_QUOTE_ERROR"},
    {22, "CURLE_HTTP_RETURNED_ERROR"},
    {23, "CURLE_WRITE_ERROR"},
    {25, "CURLE_UPLOAD_FAILED"},
    {26, "CURLE_READ_ERROR"},
    {27, "CURLE_OUT_OF_MEMORY"},
    {28, "CURLE_OPERATION_TIMEDOUT"},
    {30, "CURLE_FTP_PORT_FAILED"},
    {31, "CURLE_FTP_COULDNT_USE_REST"},
    {33, "CURLE_RANGE_ERROR"},
    {34, "CURLE_HTTP_POST_ERROR"},
    {35, "CURLE_SSL_CONNECT_ERROR"},
    {36, "CURLE_BAD_DOWNLOAD_RESUME"},
    {37, "CURLE_FILE_COULDNT_READ_FILE"},
    {38, "CURLE_LDAP_CANNOT_BIND"},
    {39, "CURLE_LDAP_SEARCH_FAILED"},
    {41, "CURLE_FUNCTION_NOT_FOUND"},
    {42, "CURLE_ABORTED_BY_CALLBACK"},
    {43, "CURLE_BAD_FUNCTION_ARGUMENT"},
    {45, "CURLE_INTERFACE_FAILED"},
    {47, "CURLE_TOO_MANY_REDIRECTS"},
    {48, "CURLE_UNKNOWN_OPTION"},
    {49, "CURLE_TELNET_OPTION_SYNTAX"},
    {52, "CURLE_GOT_NOTHING"},
    {53, "CURLE_SSL_ENGINE_NOTFOUND"},
    {54, "CURLE_SSL_ENGINE_SETFAILED"},
    {55, "CURLE_SEND_ERROR"},
    {56, "CURLE_RECV_ERROR"},
    {58, "CURLE_SSL_CERTPROBLEM"},
    {59, "CURLE_SSL_CIPHER"},
    {60, "CURLE_SSL_CACERT"},
    {61, "CURLE_BAD_CONTENT_ENCODING"},
    {62, "CURLE_LDAP_INVALID_URL"},
    {63, "CURLE_FILESIZE_EXCEEDED"},
    {64, "CURLE_USE_SSL_FAILED"},
    {65, "CURLE_SEND_FAIL_REWIND"},
    {66, "CURLE_SSL_ENGINE_INITFAILED"},
    {67, "CURLE_LOGIN_DENIED"},
    {68, "CURLE_TFTP_NOTFOUND"},
    {69, "CURLE_TFTP_PERM"},
    {70, "CURLE_REMOTE_DISK_FULL"},
    {71, "CURLE_TFTP_ILLEGAL"},
    {72, "CURLE_TFTP_UNKNOWNID"},
    {73, "CURLE_REMOTE_FILE_EXISTS"},
    {74, "CURLE_TFTP_NOSUCHUSER"},
    {75, "CURLE_CONV_FAILED"},
    {76, "CURLE_CONV_REQD"},
    {77, "CURLE_SSL_CACERT_BADFILE"},
    {78, "CURLE_REMOTE_FILE_NOT_FOUND"},
    {79, "CURLE_SSH"},
    {80, "CURLE_SSL_SHUTDOWN_FAILED"},
    {81, "CURLE_AGAIN"},
    {82, "CURLE_SSL_CRL_BADFILE"},
    {83, "CURLE_SSL_ISSUER_ERROR"},
    {84, "CURLE_FTP_PRET_FAILED"},
    {85, "CURLE_RTSP_CSEQ_ERROR"},
    {86, "CURLE_RTSP_SESSION_ERROR"},
    {87, "CURLE_FTP_BAD_FILE_LIST"},
    {88, "CURLE_CHUNK_FAILED"},
};
static_assert(std::size(kCurlNames) == 78);

class CurlErrorCategory : public std::error_category
{
public:
    const char* name() const noexcept override { return "CURL"; }

    std::string message(int code) const override
    {
        const auto found = std::lower_bound(std::begin(kCurlNames), std::end(kCurlNames), code,
                                            [](const CurlName& entry, int value) { return entry.code < value; });
        std::string text = found != std::end(kCurlNames) && found->code == code
                               ? std::string(found->name)
                               : "CURLcode(" + std::to_string(code) + ")";
        return text + ": " + curl_easy_strerror(static_cast<CURLcode>(code));
    }
};

const CurlErrorCategory gCurlCategory;
const HttpErrorCategory gHttpCategory;

const char* reasonPhrase(int status)
{
    switch (status)
    {
    case 400: return " (Bad Request)";
    case 401: return " (Unauthorized)";
    case 403: return " (Forbidden)";
    case 404: return " (Not Found)";
    case 405: return " (Method Not Allowed)";
    case 406: return " (Not Acceptable)";
    case 409: return " (Conflict)";
    case 410: return " (Gone)";
    case 413: return " (Request Entity Too Large)";
    case 500: return " (Internal Server Error)";
    case 501: return " (Not Implemented)";
    case 503: return " (Service Unavailable)";
    default: return "";
    }
}

std::wstring categoryText(const std::error_code& code)
{
    return qcl::string::utf8ToUtf16Lenient(code.message());
}
} // namespace

const std::error_category& curlCategory()
{
    return gCurlCategory;
}

const char* HttpErrorCategory::name() const noexcept
{
    return "HTTP";
}

std::string HttpErrorCategory::message(int status) const
{
    return std::to_string(status) + reasonPhrase(status);
}

const std::error_category& httpCategory()
{
    return gHttpCategory;
}

Error::Error(int curlCode, const std::wstring& text)
    : basic_runtime_error(std::wstring()), code(curlCode, curlCategory())
{
    mMessage = categoryText(code);
    prependMessage(text);
}

const char* Error::what() const noexcept
{
    try
    {
        mWhatText = qcl::string::utf16ToUtf8Lenient(mMessage);
        return mWhatText.c_str();
    }
    catch (...)
    {
        return "url::Error";
    }
}

void Error::prependMessage(const std::wstring& text)
{
    if (text.empty())
        return;
    mMessage = mMessage.empty() ? text : text + L": " + mMessage;
}

void Error::appendMessage(const std::wstring& text)
{
    if (text.empty())
        return;
    if (!mMessage.empty())
        mMessage += L": ";
    mMessage += text;
}

FileTooBig::FileTooBig() : Error(CURLE_READ_ERROR, L"File is too big")
{
}

HttpError::HttpError(int status, const std::wstring& text) : Error(CURLE_HTTP_RETURNED_ERROR, text)
{
    code = std::error_code(status, httpCategory());
    setMessage(qcl::format(L"Server responded with HTTP error %1%", status));
    prependMessage(text);
}

void throwHttpError(long status)
{
    if (status < 400 || status > 599)
        return;
    if (status >= 500)
        throw ServerSideError(static_cast<int>(status), std::wstring());
    switch (status)
    {
    case 400: throw BadRequestError(std::wstring());
    case 401: throw HttpAuthenticationError(std::wstring());
    case 403: throw ForbiddenError(std::wstring());
    case 404:
    case 410: throw NotFoundError(std::wstring());
    case 406: throw NotAcceptableError(std::wstring());
    case 409: throw ConflictError(std::wstring());
    default: throw ClientSideError(static_cast<int>(status), std::wstring());
    }
}
} // namespace url
