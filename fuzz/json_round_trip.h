#pragma once
// What both JSON fuzz targets check of a value the reader accepted: written out and read back, it is the
// same value (the integer 0 that "-0" gives reads back as the unsigned 0), unless a string holds bytes that
// are not UTF-8, which the writer refuses.

#include "json_spirit/Reader.h"
#include "json_spirit/Writer.h"
#include "qcl/String.h"

#include <boost/locale/encoding_errors.hpp>

#include <cstdlib>
#include <sstream>

namespace fuzz
{
inline bool sameValue(const json_spirit::Value& left, const json_spirit::Value& right)
{
    using json_spirit::Kind;
    if (left.kind() == Kind::integer && right.kind() == Kind::unsignedInteger)
        return left.integer() == 0 && right.unsignedInteger() == 0;
    if (left.kind() != right.kind())
        return false;
    switch (left.kind())
    {
    case Kind::array:
    {
        const auto& leftElements = left.getArray();
        const auto& rightElements = right.getArray();
        if (leftElements.size() != rightElements.size())
            return false;
        for (std::size_t i = 0; i < leftElements.size(); ++i)
            if (!sameValue(leftElements[i], rightElements[i]))
                return false;
        return true;
    }
    case Kind::object:
    {
        if (left.getObject().size() != right.getObject().size())
            return false;
        for (const auto& [key, member] : left.getObject())
        {
            const auto found = right.getObject().find(key);
            if (found == right.getObject().end() || !sameValue(member, found->second))
                return false;
        }
        return true;
    }
    default:
        return left == right;
    }
}

inline void checkRoundTrip(const json_spirit::Value& value)
{
    std::wostringstream written;
    try
    {
        json_spirit::write(written, value);
    }
    catch (const boost::locale::conv::conversion_error&)
    {
        return;
    }
    if (!sameValue(value, json_spirit::parse(qcl::string::utf16ToUtf8(written.str()))))
        std::abort();
}
} // namespace fuzz
