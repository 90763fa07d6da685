#pragma once
// The type of a server message: what changed on the server.

#include <cstddef>
#include <cstdint>
#include <ostream>

namespace dwl
{
enum class EventType : std::uint32_t
{
    other = 0,
    shareCreated = 1,
    shareUpdated = 2,
    shareDeleted = 3,
    folderCreated = 4,
    folderUpdated = 5,
    folderDeleted = 6,
    documentCreated = 7,
    documentUpdated = 8,
    documentDeleted = 9,
    versionCreated = 10,
};

// The value of a type text; any text not in the table (case and length count) is EventType::other.
EventType parseEventType(const char* text, std::size_t length);

// The type text, or "OTHER" for other and values outside the table.
std::wostream& toString(std::wostream& stream, EventType type);
std::wostream& operator<<(std::wostream& stream, EventType type);
} // namespace dwl
