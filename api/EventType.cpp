#include "api/EventType.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace dwl
{
namespace
{
struct Entry
{
    EventType type;
    std::string_view text;
};

// Sorted by text in byte order, for the bisection of parseEventType.
constexpr Entry kEventTypes[] = {
    {EventType::documentCreated, "DOCUMENT_CREATED"}, {EventType::documentDeleted, "DOCUMENT_DELETED"},
    {EventType::documentUpdated, "DOCUMENT_UPDATED"}, {EventType::folderCreated, "FOLDER_CREATED"},
    {EventType::folderDeleted, "FOLDER_DELETED"},     {EventType::folderUpdated, "FOLDER_UPDATED"},
    {EventType::shareCreated, "SHARE_CREATED"},       {EventType::shareDeleted, "SHARE_DELETED"},
    {EventType::shareUpdated, "SHARE_UPDATED"},       {EventType::versionCreated, "VERSION_CREATED"},
};
} // namespace

EventType parseEventType(const char* text, std::size_t length)
{
    const std::string_view wanted(text, length);
    const auto found = std::lower_bound(std::begin(kEventTypes), std::end(kEventTypes), wanted,
                                        [](const Entry& entry, std::string_view value) { return entry.text < value; });
    return found != std::end(kEventTypes) && found->text == wanted ? found->type : EventType::other;
}

std::wostream& toString(std::wostream& stream, EventType type)
{
    for (const auto& entry : kEventTypes)
        if (entry.type == type)
        {
            for (const char c : entry.text)
                stream << static_cast<wchar_t>(c);
            return stream;
        }
    return stream << L"OTHER";
}

std::wostream& operator<<(std::wostream& stream, EventType type)
{
    return toString(stream, type);
}
} // namespace dwl
