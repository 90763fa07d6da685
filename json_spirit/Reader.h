#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

#include "json_spirit/Error.h"
#include "json_spirit/Value.h"

namespace json_spirit
{

// Arrays and objects nested deeper than this are rejected, so that outside input cannot exhaust the stack.
inline constexpr unsigned maxNestingDepth = 512;

// Reads a text that is one JSON value. Numbers become unsigned integers (non-negative) or integers
// (negative); the reader never makes floating point. Strings keep their bytes as they are (a lone surrogate
// escape in its generalised UTF-8 form): the accessors check them. Every rejection throws ParseError, also
// a text whose values would hold more than about `memoryBudget` bytes.
Value parse(std::string_view utf8, std::size_t memoryBudget = std::numeric_limits<std::size_t>::max());

// Reads a text that is one JSON array, handing its elements to `each` one at a time as they are read, so that
// a long array is never held whole; each element may hold about `elementBudget` bytes. A text that is another
// value throws TypeError; every rejection that parse() makes throws ParseError, perhaps after some elements
// were handed over.
void parseElements(std::string_view utf8, std::size_t elementBudget, const std::function<void(Value&)>& each);

// Reads the member list of an object without its braces, as the configuration file and the server list hold
// it: an optional byte-order mark, then "key: value" members with optional commas and bare-word keys. Gives
// an object. A rejection throws ParseError whose text starts with "At position <byte offset after the mark>:
// ".
Value parseMemberList(std::string_view utf8);

// parseMemberList over the whole content of a file. A file that cannot be read throws qcl::SystemError.
Value readFile(const std::wstring& path);

} // namespace json_spirit
