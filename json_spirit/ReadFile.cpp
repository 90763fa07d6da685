#include "json_spirit/Reader.h"

#include <cerrno>
#include <fstream>
#include <iterator>

#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/String.h"

namespace json_spirit
{
namespace
{

[[noreturn]] void throwFileError(const wchar_t* message, const std::wstring& path, const std::string& bytes)
{
    const int error = errno;
    throw qcl::SystemError(qcl::format(message, path), compat::windowsErrorFromErrno(error, bytes.c_str()));
}

std::string readWholeFile(const std::wstring& path)
{
    const std::string bytes = qcl::string::utf16ToFileName(path);
    errno = 0;
    std::ifstream file(bytes, std::ios::binary);
    if (!file)
        throwFileError(L"Cannot open '%1%'", path, bytes);
    std::string content;
    char chunk[512];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0)
        content.append(chunk, static_cast<std::size_t>(file.gcount()));
    if (file.bad() || !file.eof())
        throwFileError(L"Cannot read '%1%'", path, bytes);
    return content;
}

} // namespace

Value readFile(const std::wstring& path)
{
    return parseMemberList(readWholeFile(path));
}

} // namespace json_spirit
