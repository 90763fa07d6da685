#pragma once
// The exception base of the program, the exception of a failed system call and the "Windows" error
// category.

#include "compat/Types.h"
#include "qcl/String.h"

#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>

namespace qcl
{
namespace details
{
template <class Char>
class basic_runtime_error_base;

template <>
class basic_runtime_error_base<wchar_t> : public std::runtime_error
{
public:
    explicit basic_runtime_error_base(std::wstring message)
        : std::runtime_error(std::string()), mMessage(std::move(message))
    {
    }

protected:
    std::wstring mMessage;
};
} // namespace details

template <class Char>
class basic_runtime_error;

// Holds a wide message; what() gives its UTF-8 form, built once per object on first use.
template <>
class basic_runtime_error<wchar_t> : public details::basic_runtime_error_base<wchar_t>
{
public:
    explicit basic_runtime_error(std::wstring message) : basic_runtime_error_base(std::move(message)) {}
    // A copy builds its own narrow text on its own first what().
    basic_runtime_error(const basic_runtime_error& other) : basic_runtime_error_base(other) {}
    basic_runtime_error& operator=(const basic_runtime_error&) = delete;
    ~basic_runtime_error() override = default;

    const char* what() const noexcept override;
    std::wstring message() const { return mMessage; }

private:
    mutable std::once_flag mWhatOnce;
    mutable std::string mWhat;
};

// The narrow twin, for texts that are UTF-8 from the start.
template <>
class basic_runtime_error<char> : public std::runtime_error
{
public:
    explicit basic_runtime_error(const std::string& message) : std::runtime_error(message) {}
    std::string message() const { return what(); }
};

class WindowsErrorCategory : public std::error_category
{
public:
    const char* name() const noexcept override;
    std::string message(int code) const override; // UTF-8
};

// The one instance of the category, made before any code of the program runs.
const std::error_category& windowsCategory();

// The system's text for a Windows code, on one line; "Error N (0xn)" when the system has none.
std::wstring systemErrorText(DWORD code);

// A failed system call. Message: caller's text, ": " (when that text is not empty), category name,
// " error ", the code, ": ", and the category's text for the code.
class SystemError : public basic_runtime_error<wchar_t>
{
public:
    SystemError(const std::wstring& message, DWORD windowsCode);
    SystemError(string::basic_span<wchar_t> message, DWORD windowsCode);
    SystemError(const std::wstring& message, std::error_code code);

    const std::error_code& code() const noexcept { return mCode; }
    // The system's text for the code alone, without the message: what the user is told of the cause.
    std::wstring systemText() const;

private:
    std::error_code mCode;
};

// The failure to keep `folder` private to the user: basic_runtime_error "Cannot use folder '%1%': it belongs
// to another user" for ERROR_INVALID_OWNER, "Cannot use folder '%1%': it is a symbolic link" for
// ERROR_CANT_RESOLVE_FILENAME, else SystemError "Cannot create directory '%1%'" with the code.
[[noreturn]] void throwPrivateFolderError(const std::wstring& folder, DWORD code);

// The text of the exception being handled. Call only inside a catch block; never throws.
std::wstring currentExceptionMessage();

// Throws SystemError("In function F, in file X at line N, the expression (E) failed: text", code).
[[noreturn]] void assertionMessage(const char* expression, const char* function, const char* file, int line,
                                   const std::wstring& text, DWORD code);
} // namespace qcl

// Checks a Win32-style call whose failure must stop the operation; the code is the thread's last error.
#define QCL_CHECK_WIN32(expression, text)                                                                    \
    do                                                                                                       \
    {                                                                                                        \
        if (!(expression))                                                                                   \
            ::qcl::assertionMessage(#expression, __func__, __FILE__, __LINE__, (text), ::GetLastError());    \
    } while (false)

// The exception of a failed COM call, with its HRESULT.
class com_exception : public qcl::basic_runtime_error<wchar_t>
{
public:
    explicit com_exception(HRESULT result, const std::wstring& description = std::wstring(),
                           const std::wstring& source = std::wstring());
    HRESULT result() const noexcept { return mResult; }

private:
    HRESULT mResult;
};

// Does nothing for a success code; throws com_exception with the thread's error information otherwise.
void throwIfFailed(HRESULT result);
