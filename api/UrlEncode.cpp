#include "api/UrlEncode.h"

namespace qcl::url
{
std::string encode(const std::string& utf8)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size() * 3);
    for (const char c : utf8)
    {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            byte == '-' || byte == '_' || byte == '.' || byte == '~')
        {
            out += c;
        }
        else
        {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        }
    }
    return out;
}
} // namespace qcl::url
