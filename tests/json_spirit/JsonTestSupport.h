#pragma once
// Helpers shared by the JSON tests.

#include "json_spirit/Value.h"

#include <ostream>
#include <string>

namespace json_spirit
{
// Lets GoogleTest show a value as its JSON text in failure messages.
void PrintTo(const Value& value, std::ostream* out);

// The what() of the Exception that `call` throws, or "no exception".
template <class Exception, class Call> std::string errorText(Call call)
{
    try
    {
        call();
    }
    catch (const Exception& error)
    {
        return error.what();
    }
    return "no exception";
}
} // namespace json_spirit
