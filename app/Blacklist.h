#pragma once
// Blacklists of names: each item is an ECMAScript regular expression that must match a whole name.

#include <string>
#include <vector>

namespace dwl
{
// The items joined as alternatives, each in a group of its own. An item that does not compile is logged at
// warning level with its text and left out. Empty when no item is left (nothing is blacklisted).
std::wstring joinBlacklist(const std::vector<std::wstring>& items);
} // namespace dwl
