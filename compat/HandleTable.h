#pragma once
// The process table behind HANDLE values. A handle is a small number (a multiple of 4 from 4 on), never
// 0 or INVALID_HANDLE_VALUE, and names one kernel object of the layer. A call in progress keeps its
// object alive when another thread closes the handle meanwhile.

#include "compat/LastError.h"
#include "compat/Types.h"

#include <memory>
#include <type_traits>

namespace compat
{
class KernelObject
{
public:
    virtual ~KernelObject() = default;
    // Releases the object's resources; an errno value on failure, else 0. Called at most once, by the
    // close of the last handle when no call is using the object, otherwise the destructor releases.
    virtual int close() { return 0; }
};

HANDLE insertHandle(std::shared_ptr<KernelObject> object);

// The object of a handle when it is of type T; else null with the last error ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> findObject(HANDLE handle);
template <class T>
std::shared_ptr<T> findHandle(HANDLE handle)
{
    auto object = std::dynamic_pointer_cast<T>(findObject(handle));
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// Removes the handle when it names an object of type T; the removed object, else null with the last
// error ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> removeObject(HANDLE handle, bool (*isWanted)(const KernelObject&));
template <class T>
std::shared_ptr<T> removeHandle(HANDLE handle)
{
    auto object = removeObject(handle, [](const KernelObject& o) {
        if constexpr (std::is_same_v<T, KernelObject>)
            return true;
        else
            return dynamic_cast<const T*>(&o) != nullptr;
    });
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return std::static_pointer_cast<T>(object);
}
} // namespace compat
