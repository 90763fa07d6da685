#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "json_spirit/Value.h"

namespace json_spirit
{

// A value has the wrong kind for the requested access: "Cannot convert <actual> JSON value to <expected>".
class TypeError : public std::runtime_error
{
public:
    TypeError(Kind expected, Kind actual);

    Kind expected() const noexcept { return mExpected; }
    Kind actual() const noexcept { return mActual; }

private:
    Kind mExpected;
    Kind mActual;
};

// The reader rejected a text: "Cannot parse JSON: <reason>".
class ParseError : public std::runtime_error
{
public:
    explicit ParseError(const std::string& reason);

    // The same error, its whole text put after "At position <offset>: ".
    ParseError atPosition(std::size_t offset) const;

private:
    struct WholeText
    {
    };
    ParseError(WholeText, const std::string& text);
};

} // namespace json_spirit
