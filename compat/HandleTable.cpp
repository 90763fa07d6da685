#include "compat/HandleTable.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace compat
{
namespace
{
struct Table
{
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 4;
};

Table& table()
{
    static Table instance;
    return instance;
}
} // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    // Values count up so that a stale handle is not soon mistaken for a new one; they stay below 2^32
    // so that every handle is written with 8 hexadecimal digits.
    std::uintptr_t value = t.next;
    while (t.objects.count(value) != 0)
        value = value + 4 > 0xFFFFFFFCu ? 4 : value + 4;
    t.next = value + 4 > 0xFFFFFFFCu ? 4 : value + 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> findObject(HANDLE handle)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    const auto found = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == t.objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> removeObject(HANDLE handle, bool (*isWanted)(const KernelObject&))
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    const auto found = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == t.objects.end() || !isWanted(*found->second))
        return nullptr;
    auto object = std::move(found->second);
    t.objects.erase(found);
    return object;
}
} // namespace compat
