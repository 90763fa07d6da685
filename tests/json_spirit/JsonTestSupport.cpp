#include "JsonTestSupport.h"

#include "json_spirit/Writer.h"
#include "qcl/String.h"

#include <sstream>

namespace json_spirit
{
void PrintTo(const Value& value, std::ostream* out)
{
    std::wostringstream text;
    try
    {
        write(text, value);
    }
    catch (const std::exception& error)
    {
        text << L" (" << qcl::string::utf8ToUtf16Lenient(error.what()) << L")";
    }
    *out << qcl::string::utf16ToUtf8Lenient(text.str()) << " of kind " << value.kind();
}
} // namespace json_spirit
