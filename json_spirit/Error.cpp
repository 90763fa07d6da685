#include "json_spirit/Error.h"

#include <sstream>

namespace json_spirit
{
namespace
{

std::string conversionText(Kind expected, Kind actual)
{
    std::ostringstream text;
    text << "Cannot convert " << actual << " JSON value to " << expected;
    return text.str();
}

} // namespace

TypeError::TypeError(Kind expected, Kind actual)
    : std::runtime_error(conversionText(expected, actual)), mExpected(expected), mActual(actual)
{
}

ParseError::ParseError(const std::string& reason) : std::runtime_error("Cannot parse JSON: " + reason) {}

ParseError::ParseError(WholeText, const std::string& text) : std::runtime_error(text) {}

ParseError ParseError::atPosition(std::size_t offset) const
{
    return ParseError(WholeText{}, "At position " + std::to_string(offset) + ": " + what());
}

} // namespace json_spirit
