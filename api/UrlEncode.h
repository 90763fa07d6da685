#pragma once

#include <string>

namespace qcl::url
{
// Percent-encodes a query value (UTF-8): unreserved bytes (letters, digits, "-_.~") stay, every other byte
// becomes "%" and two lower-case hexadecimal digits.
std::string encode(const std::string& utf8);
} // namespace qcl::url
