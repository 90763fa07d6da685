#pragma once
// The exceptions of the HTTP client and the "CURL" and "HTTP" error categories.
//
// Error ── NetworkError, FileTooBig, HttpError ── ServerSideError, ClientSideError ── BadRequestError,
// HttpAuthenticationError, NotFoundOrForbiddenError (ForbiddenError, NotFoundError), NotAcceptableError, ConflictError.

#include "qcl/Error.h"

#include <string>
#include <system_error>

namespace url
{
// "CURL": the libcurl name of the code (or "CURLcode(n)") and libcurl's text for it.
const std::error_category& curlCategory();

// "HTTP": the status, with the reason phrase for the common ones ("404 (Not Found)").
class HttpErrorCategory : public std::error_category
{
public:
    const char* name() const noexcept override;
    std::string message(int status) const override;
};
const std::error_category& httpCategory();

class Error : public qcl::basic_runtime_error<wchar_t>
{
public:
    // Message: text and ": " when text is not empty, then the "CURL" message of curlCode.
    Error(int curlCode, const std::wstring& text);
    Error(const Error&) = default;

    // The message may change after construction (the REST frame adds context), so what() follows it.
    const char* what() const noexcept override;

    void setMessage(std::wstring text) { mMessage = std::move(text); }
    // "text: message" (just text when the message is empty); an empty text changes nothing.
    void prependMessage(const std::wstring& text);
    // "message: text" (just text when the message is empty); an empty text changes nothing.
    void appendMessage(const std::wstring& text);

    std::error_code code;
    std::wstring serverMessage; // the message of a parsed server error body

private:
    mutable std::string mWhatText;
};

class NetworkError : public Error
{
public:
    NetworkError(int curlCode, const std::wstring& text) : Error(curlCode, text) {}
};

// An upload of 2 GiB or more, refused before anything is sent.
class FileTooBig : public Error
{
public:
    FileTooBig();
};

// Message: text, ": ", "Server responded with HTTP error <status>"; code (status, "HTTP").
class HttpError : public Error
{
protected:
    HttpError(int status, const std::wstring& text);
};

class ServerSideError : public HttpError
{
public:
    ServerSideError(int status, const std::wstring& text) : HttpError(status, text) {}
};

class ClientSideError : public HttpError
{
public:
    ClientSideError(int status, const std::wstring& text) : HttpError(status, text) {}
};

class BadRequestError : public ClientSideError
{
public:
    explicit BadRequestError(const std::wstring& text) : ClientSideError(400, text) {}
};

class HttpAuthenticationError : public ClientSideError
{
public:
    explicit HttpAuthenticationError(const std::wstring& text) : ClientSideError(401, text) {}
};

// Callers catch this for "gone or not open to the user".
class NotFoundOrForbiddenError : public ClientSideError
{
protected:
    NotFoundOrForbiddenError(int status, const std::wstring& text) : ClientSideError(status, text) {}
};

class ForbiddenError : public NotFoundOrForbiddenError
{
public:
    explicit ForbiddenError(const std::wstring& text) : NotFoundOrForbiddenError(403, text) {}
};

// Also made for 410; its code is always 404.
class NotFoundError : public NotFoundOrForbiddenError
{
public:
    explicit NotFoundError(const std::wstring& text) : NotFoundOrForbiddenError(404, text) {}
};

class NotAcceptableError : public ClientSideError
{
public:
    explicit NotAcceptableError(const std::wstring& text) : ClientSideError(406, text) {}
};

class ConflictError : public ClientSideError
{
public:
    explicit ConflictError(const std::wstring& text) : ClientSideError(409, text) {}
};

// Throws the class of the HTTP status (400-599) with an empty text; returns for any other status.
void throwHttpError(long status);
} // namespace url
