#include "json_spirit/Reader.h"

#include "qcl/File.h"

namespace json_spirit
{

Value readFile(const std::wstring& path)
{
    qcl::Handle file =
        qcl::file::open(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    std::string content;
    char chunk[512];
    while (const DWORD count = qcl::File::read(file.get(), chunk, sizeof chunk))
        content.append(chunk, count);
    file.close();
    return parseMemberList(content);
}

} // namespace json_spirit
