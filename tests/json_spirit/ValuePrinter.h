#pragma once
// Lets GoogleTest show a json_spirit::Value as its JSON text in failure messages.

#include "json_spirit/Value.h"

#include <ostream>

namespace json_spirit
{
void PrintTo(const Value& value, std::ostream* out);
} // namespace json_spirit
