#pragma once
// The program file, string resources and dynamically loaded libraries.

#include "compat/ModuleApi.h"

#include <stdexcept>
#include <string>

namespace qcl
{
// The full path of the program file.
std::wstring getModuleFileName();

// The string `id` of the module's string table, however long; throws SystemError "Cannot load string
// with ID <id> from module 0x<module>" when there is none.
std::wstring loadString(HINSTANCE module, UINT id);
// From the program's own module.
std::wstring loadString(UINT id);
} // namespace qcl

// A dynamically loaded library, released when the holder goes.
class HModule
{
public:
    HModule() = default;
    ~HModule();
    HModule(const HModule&) = delete;
    HModule& operator=(const HModule&) = delete;

    // Loads the library unless it is held already (the name compared without regard to case); one held
    // under another name is released first. True when a module is held, else false with the code in
    // lastError(). A null name throws std::runtime_error "Invalid library name in HModule::Load()".
    bool Load(const wchar_t* name);

    HMODULE get() const { return mModule; }
    DWORD lastError() const { return mLastError; }
    const std::wstring& name() const { return mName; }

    // A procedure of the held module, resolved on first use.
    template <class Function>
    class Procedure
    {
    public:
        Procedure(HModule& module, const char* name) : mModule(module), mName(name) {}

        // Throws std::runtime_error "Failed to GetProcAddress" when the module has no such procedure.
        Function get()
        {
            if (mAddress == nullptr)
                mAddress = mModule.getProcAddress(mName.c_str());
            return reinterpret_cast<Function>(mAddress);
        }

    private:
        HModule& mModule;
        std::string mName;
        FARPROC mAddress = nullptr;
    };

    // Throws std::runtime_error "Failed to GetProcAddress" on failure.
    FARPROC getProcAddress(const char* procedureName);

private:
    void release();

    HMODULE mModule = nullptr;
    DWORD mLastError = 0;
    std::wstring mName;
};
