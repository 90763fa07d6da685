#include "qcl/Error.h"

#include "compat/ErrorInfo.h"
#include "compat/LastError.h"
#include "compat/SystemText.h"
#include "qcl/Format.h"

#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <typeinfo>
#include <vector>

namespace qcl
{
namespace
{
std::string demangledTypeName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

// Cuts the text into lines, trims each, and joins the non-empty ones with one blank.
std::wstring joinLines(const std::wstring& text)
{
    std::wstring result;
    std::size_t start = 0;
    while (start <= text.size())
    {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && isBlank(text[first]))
            ++first;
        while (last > first && isBlank(text[last - 1]))
            --last;
        if (last > first)
        {
            if (!result.empty())
                result += L' ';
            result.append(text, first, last - first);
        }
        start = end + 1;
    }
    return result;
}

std::wstring composeMessage(const std::wstring& message, const std::error_category& category,
                            const std::wstring& codeText, const std::wstring& categoryText)
{
    std::wostringstream stream;
    if (!message.empty())
        stream << message << L": ";
    stream << string::utf8ToUtf16Lenient(category.name()) << L" error " << codeText << L": " << categoryText;
    return stream.str();
}

std::wstring hex8(std::uint32_t value)
{
    wchar_t text[9];
    static const wchar_t digits[] = L"0123456789abcdef";
    for (int i = 7; i >= 0; --i)
    {
        text[i] = digits[value & 0xF];
        value >>= 4;
    }
    text[8] = 0;
    return text;
}
} // namespace

const char* basic_runtime_error<wchar_t>::what() const noexcept
{
    std::call_once(mWhatOnce, [this] {
        try
        {
            mWhat = string::utf16ToUtf8(mMessage);
        }
        catch (...)
        {
            try
            {
                mWhat = demangledTypeName(typeid(*this));
            }
            catch (...)
            {
                mWhat.clear();
            }
        }
    });
    return mWhat.c_str();
}

const char* WindowsErrorCategory::name() const noexcept
{
    return "Windows";
}

std::string WindowsErrorCategory::message(int code) const
{
    return string::utf16ToUtf8Lenient(systemErrorText(static_cast<DWORD>(code)));
}

namespace
{
// Made during static initialisation, before main, and alive until exit.
const WindowsErrorCategory gWindowsCategory;
} // namespace

const std::error_category& windowsCategory()
{
    return gWindowsCategory;
}

std::wstring systemErrorText(DWORD code)
{
    constexpr DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    wchar_t buffer[256];
    DWORD length = FormatMessageW(flags, nullptr, code, 0, buffer, 256, nullptr);
    if (length != 0)
        return joinLines(std::wstring(buffer, length));
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER)
    {
        wchar_t* allocated = nullptr;
        length = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
                                reinterpret_cast<wchar_t*>(&allocated), 0, nullptr);
        if (length != 0)
        {
            std::wstring text(allocated, length);
            LocalFree(allocated);
            return joinLines(text);
        }
    }
    std::wostringstream stream;
    stream << L"Error " << code << L" (0x" << std::hex << code << L")";
    return stream.str();
}

SystemError::SystemError(const std::wstring& message, DWORD windowsCode)
    : basic_runtime_error(composeMessage(message, windowsCategory(), std::to_wstring(windowsCode),
                                         systemErrorText(windowsCode))),
      mCode(static_cast<int>(windowsCode), windowsCategory())
{
}

std::wstring SystemError::systemText() const
{
    return string::utf8ToUtf16Lenient(mCode.message());
}

SystemError::SystemError(string::basic_span<wchar_t> message, DWORD windowsCode)
    : SystemError(message.str(), windowsCode)
{
}

SystemError::SystemError(const std::wstring& message, std::error_code code)
    : basic_runtime_error(composeMessage(message, code.category(), std::to_wstring(code.value()),
                                         string::utf8ToUtf16Lenient(code.message()))),
      mCode(code)
{
}

void throwPrivateFolderError(const std::wstring& folder, DWORD code)
{
    if (code == ERROR_INVALID_OWNER)
        throw basic_runtime_error<wchar_t>(
            format(L"Cannot use folder '%1%': it belongs to another user", folder));
    if (code == ERROR_CANT_RESOLVE_FILENAME)
        throw basic_runtime_error<wchar_t>(format(L"Cannot use folder '%1%': it is a symbolic link", folder));
    throw SystemError(format(L"Cannot create directory '%1%'", folder), code);
}

std::wstring currentExceptionMessage()
{
    try
    {
        throw;
    }
    catch (const char* text)
    {
        return text == nullptr ? std::wstring() : string::utf8ToUtf16Lenient(text);
    }
    catch (const wchar_t* text)
    {
        return text == nullptr ? std::wstring() : std::wstring(text);
    }
    catch (const std::string& text)
    {
        return string::utf8ToUtf16Lenient(text);
    }
    catch (const std::wstring& text)
    {
        return text;
    }
    catch (const basic_runtime_error<wchar_t>& error)
    {
        return error.message();
    }
    catch (const basic_runtime_error<char>& error)
    {
        return string::utf8ToUtf16Lenient(error.message());
    }
    catch (const std::exception& error)
    {
        return string::utf8ToUtf16Lenient(error.what());
    }
    catch (...)
    {
        return L"Exception of unknown type";
    }
}

void assertionMessage(const char* expression, const char* function, const char* file, int line,
                      const std::wstring& text, DWORD code)
{
    std::wostringstream stream;
    stream << L"In function " << string::utf8ToUtf16Lenient(function) << L", in file "
           << string::utf8ToUtf16Lenient(file) << L" at line " << line << L", the expression ("
           << string::utf8ToUtf16Lenient(expression) << L") failed: " << text;
    throw SystemError(stream.str(), code);
}
} // namespace qcl

namespace
{
std::wstring comMessage(HRESULT result, const std::wstring& description, const std::wstring& source)
{
    std::wstring message;
    if (!source.empty())
        message += L"In " + source + L": ";
    if (!description.empty())
        message += description + L": ";
    message += L"Error 0x" + qcl::hex8(static_cast<std::uint32_t>(result)) + L": " +
               qcl::systemErrorText(static_cast<DWORD>(result));
    return message;
}
} // namespace

com_exception::com_exception(HRESULT result, const std::wstring& description, const std::wstring& source)
    : basic_runtime_error(comMessage(result, description, source)), mResult(result)
{
    compat::setErrorInfoDescription(
        description.empty() ? L"Error 0x" + qcl::hex8(static_cast<std::uint32_t>(result)) : description);
}

void throwIfFailed(HRESULT result)
{
    if (result >= 0)
        return;
    throw com_exception(result, compat::takeErrorInfoDescription().value_or(std::wstring()));
}
