#include "app/Version.h"

#include "json_spirit/Value.h"
#include "qcl/String.h"

namespace dwl
{
std::string Version::toString() const
{
    return std::to_string(major) + '.' + std::to_string(minor) + '.' + std::to_string(patch);
}

std::wstring Version::toWString() const
{
    return qcl::string::utf8ToUtf16(toString());
}

Version Version::fromJson(const json_spirit::Value& value)
{
    value.getArray();
    return {value[0].getUInt(), value[1].getUInt(), value[2].getUInt()};
}
} // namespace dwl
