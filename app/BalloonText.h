#pragma once
// The text of a balloon, fitted to what the notification area shows.

#include <cstddef>
#include <string>
#include <vector>

namespace dwl
{
// `format` ("%1%"-style) with `arguments`, at most `limit` UTF-16 units. A longer text has its arguments
// shortened, each ending in "…": the first (the item's name) first, then the next and so on, each down to a
// few units before the next is touched, so that the fixed words around them (the reason, the closing
// instruction) stay whole. Only when that is not enough is the end of the text cut.
std::wstring fitBalloonText(const std::wstring& format, std::vector<std::wstring> arguments,
                            std::size_t limit);
} // namespace dwl
