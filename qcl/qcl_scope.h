#pragma once
// Scope guards: a clean-up action that runs when the scope ends. An exception thrown by the action is
// logged at error level and swallowed; the guard's destructor never throws.
//
//     auto closer = qcl::scope::makeGuard([&] { file.close(); });
//     ...
//     closer.dismiss(); // keep the file open after all

#include <typeinfo>
#include <utility>

namespace qcl::scope
{
namespace details
{
// Logs "<guard type>::~Guard\t ??? exception." at error level. Never throws.
void reportFailedCleanUp(const std::type_info& guardType, const char* file, int line) noexcept;
} // namespace details

template <class Action>
class Guard
{
public:
    explicit Guard(Action action) : mAction(std::move(action)) {}
    Guard(Guard&& other) : mAction(std::move(other.mAction)), mActive(other.mActive) { other.mActive = false; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;

    ~Guard()
    {
        if (!mActive)
            return;
        try
        {
            mAction();
        }
        catch (...)
        {
            details::reportFailedCleanUp(typeid(Guard), __FILE__, __LINE__);
        }
    }

    // The action will not run.
    void dismiss() noexcept { mActive = false; }
    bool active() const noexcept { return mActive; }

private:
    Action mAction;
    bool mActive = true;
};

template <class Action>
Guard<Action> makeGuard(Action action)
{
    return Guard<Action>(std::move(action));
}
} // namespace qcl::scope
