#include "qcl/LocalFileNames.h"

#include <algorithm>

namespace dwl
{
namespace
{
bool isHighSurrogate(wchar_t unit)
{
    const auto value = static_cast<std::uint32_t>(unit);
    return value >= 0xD800 && value <= 0xDBFF;
}

bool isLowSurrogate(wchar_t unit)
{
    const auto value = static_cast<std::uint32_t>(unit);
    return value >= 0xDC00 && value <= 0xDFFF;
}

bool isDotOrSpace(wchar_t unit)
{
    return unit == L'.' || unit == L' ';
}

void stripTrailingDotsAndSpaces(std::wstring& name)
{
    auto last = std::find_if_not(name.rbegin(), name.rend(), isDotOrSpace);
    name.erase(last.base(), name.end());
}

// Bytes of the UTF-8 form of the code point at `position`, and the units it takes. A lone unit
// U+DC80-U+DCFF stands for one raw byte of a file name; any other lone surrogate is counted as three.
std::pair<std::size_t, std::size_t> codePointAt(const std::wstring& text, std::size_t position)
{
    const wchar_t unit = text[position];
    const auto value = static_cast<std::uint32_t>(unit);
    if (isHighSurrogate(unit) && position + 1 < text.size() && isLowSurrogate(text[position + 1]))
        return {4, 2};
    if (value >= 0xDC80 && value <= 0xDCFF)
        return {1, 1};
    if (value < 0x80)
        return {1, 1};
    if (value < 0x800)
        return {2, 1};
    return {3, 1};
}

std::size_t utf8Length(const std::wstring& text)
{
    std::size_t bytes = 0;
    for (std::size_t position = 0; position < text.size();)
    {
        auto [size, units] = codePointAt(text, position);
        bytes += size;
        position += units;
    }
    return bytes;
}

// The longest prefix within both limits that does not split a code point.
std::wstring cut(const std::wstring& text, std::size_t maxUnits, std::size_t maxBytes)
{
    std::wstring prefix = truncateUtf16(text, maxUnits);
    std::size_t bytes = 0;
    std::size_t position = 0;
    while (position < prefix.size())
    {
        auto [size, units] = codePointAt(prefix, position);
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        position += units;
    }
    prefix.resize(position);
    return prefix;
}

std::wstring attemptSuffix(std::uint64_t attempt)
{
    return attempt < 2 ? std::wstring() : L" (" + std::to_wstring(attempt) + L")";
}

// No directory entry may be called "", "." or "..".
std::wstring replaceUnnamable(std::wstring name)
{
    return name.empty() || name == L"." || name == L".." ? std::wstring(L"_") : name;
}

std::wstring finishCandidate(std::wstring name)
{
    if constexpr (kWindowsFileNameRules)
        stripTrailingDotsAndSpaces(name);
    return replaceUnnamable(std::move(name));
}

bool isCandidateName(const std::wstring& localName, const std::wstring& name,
                     std::wstring (*candidate)(const std::wstring&, std::uint64_t))
{
    if (localName == candidate(name, 1))
        return true;
    for (std::size_t open = localName.find(L" ("); open != std::wstring::npos;
         open = localName.find(L" (", open + 1))
    {
        std::uint64_t attempt = 0;
        std::size_t digit = open + 2;
        for (; digit < localName.size() && digit < open + 12 && localName[digit] >= L'0' &&
               localName[digit] <= L'9';
             ++digit)
            attempt = attempt * 10 + static_cast<std::uint64_t>(localName[digit] - L'0');
        if (digit > open + 2 && digit < localName.size() && localName[digit] == L')' && attempt >= 2 &&
            localName == candidate(name, attempt))
            return true;
    }
    return false;
}
} // namespace

bool isInvalidFileNameChar(wchar_t unit)
{
    if (static_cast<std::uint32_t>(unit) < 0x20 || unit == L'/')
        return true;
    if constexpr (!kWindowsFileNameRules)
        return false;
    switch (unit)
    {
    case L'"':
    case L'*':
    case L':':
    case L'<':
    case L'>':
    case L'?':
    case L'\\':
    case L'|':
        return true;
    default:
        return false;
    }
}

std::wstring::const_iterator findInvalidFileNameChar(std::wstring::const_iterator first,
                                                     std::wstring::const_iterator last)
{
    return std::find_if(first, last, isInvalidFileNameChar);
}

std::wstring::iterator removeInvalidFileNameChars(std::wstring::iterator first, std::wstring::iterator last)
{
    return std::remove_if(first, last, isInvalidFileNameChar);
}

bool isReservedDeviceName(const std::wstring& text)
{
    switch (text.size())
    {
    case 3:
        return text == L"CON" || text == L"PRN" || text == L"AUX" || text == L"NUL";
    case 4:
        return (text.compare(0, 3, L"COM") == 0 || text.compare(0, 3, L"LPT") == 0) && text[3] >= L'1' &&
               text[3] <= L'9';
    case 6:
        return text == L"CLOCK$";
    default:
        return false;
    }
}

std::wstring sanitizeFileName(std::wstring name)
{
    name.erase(removeInvalidFileNameChars(name.begin(), name.end()), name.end());
    if constexpr (!kWindowsFileNameRules)
        return replaceUnnamable(std::move(name));

    stripTrailingDotsAndSpaces(name);
    if (name.empty())
        return L"_";

    std::size_t stemEnd = std::min(name.find(L'.'), name.size());
    if (stemEnd < name.size())
        while (stemEnd > 0 && name[stemEnd - 1] == L' ')
            --stemEnd;
    if (stemEnd >= 3 && stemEnd <= 6)
    {
        std::wstring upper = name.substr(0, stemEnd);
        for (wchar_t& unit : upper)
            if (unit >= L'a' && unit <= L'z')
                unit = static_cast<wchar_t>(unit - L'a' + L'A');
        if (isReservedDeviceName(upper))
            name.insert(stemEnd, 1, L'_');
    }
    return name;
}

std::pair<std::wstring, std::wstring> splitSanitizedFileName(std::wstring name)
{
    name = sanitizeFileName(std::move(name));
    const std::size_t firstNonDot = name.find_first_not_of(L'.');
    const std::size_t lastDot = name.rfind(L'.');
    // A dot that ends the name (kept where the file system allows it) starts no extension.
    if (lastDot == std::wstring::npos || lastDot + 1 == name.size() || firstNonDot == std::wstring::npos ||
        lastDot < firstNonDot)
        return {std::move(name), std::wstring()};
    std::wstring extension = name.substr(lastDot);
    name.resize(lastDot);
    return {std::move(name), std::move(extension)};
}

std::pair<std::wstring, std::wstring> splitFileName(const std::wstring& name)
{
    const std::size_t firstNonDot = name.find_first_not_of(L'.');
    const std::size_t lastDot = name.rfind(L'.');
    if (lastDot == std::wstring::npos || lastDot + 1 == name.size() || firstNonDot == std::wstring::npos ||
        lastDot < firstNonDot)
        return {name, std::wstring()};
    return {name.substr(0, lastDot), name.substr(lastDot + 1)};
}

std::wstring truncateUtf16(const std::wstring& text, std::size_t maxUnits)
{
    if (maxUnits == 0 || maxUnits >= text.size())
        return text.substr(0, maxUnits);
    std::size_t end = maxUnits;
    while (end > 0 && isLowSurrogate(text[end]))
        --end;
    return text.substr(0, end);
}

std::wstring directoryCandidateName(const std::wstring& name, std::uint64_t attempt)
{
    const std::wstring suffix = attemptSuffix(attempt);
    const std::size_t room = kMaxFileNameLength - suffix.size();
    return finishCandidate(cut(sanitizeFileName(name), room, room) + suffix);
}

std::wstring fileCandidateName(const std::wstring& name, std::uint64_t attempt)
{
    const auto [stem, extension] = splitSanitizedFileName(name);
    const std::wstring suffix = attemptSuffix(attempt);
    const std::size_t room = kMaxFileNameLength - suffix.size();
    const std::size_t extensionBytes = utf8Length(extension);
    if (extension.size() <= room && extensionBytes <= room)
        return finishCandidate(cut(stem, room - extension.size(), room - extensionBytes) + suffix +
                               extension);

    // An extension too long to leave room: keep the stem and the suffix, and cut the extension.
    const std::wstring head = cut(stem, room, room) + suffix;
    return finishCandidate(
        head + cut(extension, kMaxFileNameLength - head.size(), kMaxFileNameLength - utf8Length(head)));
}

bool isDirectoryCandidateName(const std::wstring& localName, const std::wstring& name)
{
    return isCandidateName(localName, name, directoryCandidateName);
}

bool isFileCandidateName(const std::wstring& localName, const std::wstring& name)
{
    return isCandidateName(localName, name, fileCandidateName);
}
} // namespace dwl
