// The exported C functions over CLog and CLoggerItems. Each one sets its out parameter first and turns
// every exception into a result code, so that nothing unwinds into a caller written in another
// language.

#include "qcl/Error.h"
#include "scriblet/InternalLog.h"
#include "scriblet/ScriptLog.h"
#include "scriblet/ScriptLoggerItems.h"
#include "scriblet/scriblet_c.h"

#include <log4cplus/loglevel.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>

static_assert(SCRIBLET_S_OK == S_OK && SCRIBLET_S_FALSE == S_FALSE && SCRIBLET_E_POINTER == E_POINTER &&
              SCRIBLET_E_FAIL == E_FAIL && SCRIBLET_E_OUTOFMEMORY == E_OUTOFMEMORY &&
              SCRIBLET_E_INVALIDARG == E_INVALIDARG);

struct scriblet_logger : scriblet::CLog
{
};

struct scriblet_items : scriblet::CLoggerItems
{
    using Base = scriblet::CLoggerItems;
    explicit scriblet_items(Base items = {}) : Base(std::move(items)) {}
};

struct scriblet_enum : scriblet::CLoggerItemsEnum
{
    using Base = scriblet::CLoggerItemsEnum;
    explicit scriblet_enum(Base enumerator) : Base(std::move(enumerator)) {}
};

namespace
{
HRESULT fromWindowsError(const std::error_code& code)
{
    if (code.category() != qcl::windowsCategory() || code.value() == 0)
        return E_FAIL;
    return static_cast<HRESULT>(0x80070000u | (static_cast<std::uint32_t>(code.value()) & 0xFFFFu));
}

void logFailure(const char* function, const char* text) noexcept
{
    try
    {
        qcl::logging::scriblet_logger::log(log4cplus::ERROR_LOG_LEVEL, std::string(function) + "\t" + text);
    }
    catch (...)
    {
    }
}

// Runs `body` and returns its result; an exception becomes a failure code and a line in the library's
// own log.
template <class Body> scriblet_result guarded(const char* function, Body&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (const qcl::SystemError& error)
    {
        logFailure(function, error.what());
        return fromWindowsError(error.code());
    }
    catch (const std::exception& error)
    {
        logFailure(function, error.what());
        return E_FAIL;
    }
    catch (...)
    {
        return E_FAIL;
    }
}

// `body` applied to the object behind a handle.
template <class Object, class Body>
scriblet_result call(const char* function, Object* object, Body&& body) noexcept
{
    if (object == nullptr)
        return E_POINTER;
    return guarded(function, [&] { return body(*object); });
}

// A copy of `text` that scriblet_free_string frees.
char* copyOut(const std::string& text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr)
        throw std::bad_alloc();
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A text that `get` gives: a new copy in `out` when it answers S_OK, null otherwise.
template <class Object, class Get>
scriblet_result stringResult(const char* function, Object* object, char** out, Get&& get) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    return call(function, object,
                [&](Object& self)
                {
                    std::string text;
                    HRESULT result = get(self, &text);
                    if (result == S_OK)
                        *out = copyOut(text);
                    return result;
                });
}

// An object that `make` gives: a new handle in `out` when it answers S_OK, null otherwise.
template <class Handle, class Object, class Make>
scriblet_result objectResult(const char* function, Object* object, Handle** out, Make&& make) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    return call(function, object,
                [&](Object& self)
                {
                    std::unique_ptr<typename Handle::Base> made;
                    HRESULT result = make(self, &made);
                    if (result == S_OK)
                        *out = new Handle(std::move(*made));
                    return result;
                });
}

template <class Handle> scriblet_result create(const char* function, Handle** out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    return guarded(function,
                   [&]
                   {
                       *out = new Handle();
                       return S_OK;
                   });
}
} // namespace

extern "C"
{

    void scriblet_free_string(char* text)
    {
        std::free(text);
    }

    scriblet_result scriblet_logger_create(scriblet_logger** logger)
    {
        return create(__func__, logger);
    }

    void scriblet_logger_release(scriblet_logger* logger)
    {
        delete logger;
    }

    scriblet_result scriblet_logger_get_name(scriblet_logger* logger, char** name)
    {
        return stringResult(__func__, logger, name,
                            [](auto& self, std::string* text) { return self.get_Name(text); });
    }

    scriblet_result scriblet_logger_put_name(scriblet_logger* logger, const char* name)
    {
        return call(__func__, logger, [&](auto& self) { return self.put_Name(name); });
    }

    scriblet_result scriblet_logger_trace(scriblet_logger* logger, const char* text)
    {
        return call(__func__, logger, [&](auto& self) { return self.Trace(text); });
    }

    scriblet_result scriblet_logger_debug(scriblet_logger* logger, const char* text)
    {
        return call(__func__, logger, [&](auto& self) { return self.Debug(text); });
    }

    scriblet_result scriblet_logger_information(scriblet_logger* logger, const char* text)
    {
        return call(__func__, logger, [&](auto& self) { return self.Information(text); });
    }

    scriblet_result scriblet_logger_warning(scriblet_logger* logger, const char* text)
    {
        return call(__func__, logger, [&](auto& self) { return self.Warning(text); });
    }

    scriblet_result scriblet_logger_error(scriblet_logger* logger, const char* text)
    {
        return call(__func__, logger, [&](auto& self) { return self.Error(text); });
    }

    scriblet_result scriblet_logger_fatal_error(scriblet_logger* logger, const char* text)
    {
        return call(__func__, logger, [&](auto& self) { return self.FatalError(text); });
    }

    scriblet_result scriblet_logger_log_message(scriblet_logger* logger, int32_t level, const char* text)
    {
        return call(__func__, logger, [&](auto& self) { return self.LogMessage(level, text); });
    }

    scriblet_result scriblet_logger_can_write_log(scriblet_logger* logger, const char* name, int32_t level,
                                                  int* enabled)
    {
        if (enabled == nullptr)
            return E_POINTER;
        *enabled = 0;
        return call(__func__, logger, [&](auto& self) { return self.CanWriteLog(name, level, enabled); });
    }

    scriblet_result scriblet_logger_get_all_log_path(scriblet_logger* logger, char** paths)
    {
        return stringResult(__func__, logger, paths,
                            [](auto& self, std::string* text) { return self.GetAllLogPath(text); });
    }

    scriblet_result scriblet_logger_get_logger_info(scriblet_logger* logger, scriblet_items** items)
    {
        return objectResult(__func__, logger, items,
                            [](auto& self, auto* made) { return self.GetLoggerInfo(made); });
    }

    scriblet_result scriblet_logger_get_subsystem(scriblet_logger* logger, char** subsystem)
    {
        return stringResult(__func__, logger, subsystem,
                            [](auto& self, std::string* text) { return self.get_Subsystem(text); });
    }

    scriblet_result scriblet_logger_put_subsystem(scriblet_logger* logger, const char* subsystem)
    {
        return call(__func__, logger, [&](auto& self) { return self.put_Subsystem(subsystem); });
    }

    scriblet_result scriblet_logger_initialise(scriblet_logger* logger)
    {
        return call(__func__, logger, [](auto& self) { return self.Initialise(); });
    }

    scriblet_result scriblet_items_create(scriblet_items** items)
    {
        return create(__func__, items);
    }

    void scriblet_items_release(scriblet_items* items)
    {
        delete items;
    }

    scriblet_result scriblet_items_item(scriblet_items* items, int32_t index, char** text)
    {
        return stringResult(__func__, items, text,
                            [&](auto& self, std::string* item) { return self.get_Item(index, item); });
    }

    scriblet_result scriblet_items_count(scriblet_items* items, int32_t* count)
    {
        if (count == nullptr)
            return E_POINTER;
        *count = 0;
        return call(__func__, items, [&](auto& self) { return self.get_Count(count); });
    }

    scriblet_result scriblet_items_add(scriblet_items* items, const char* text)
    {
        return call(__func__, items, [&](auto& self) { return self.Add(text); });
    }

    scriblet_result scriblet_items_remove(scriblet_items* items, int32_t index)
    {
        return call(__func__, items, [&](auto& self) { return self.Remove(index); });
    }

    scriblet_result scriblet_items_clear(scriblet_items* items)
    {
        return call(__func__, items, [](auto& self) { return self.Clear(); });
    }

    scriblet_result scriblet_items_new_enum(scriblet_items* items, scriblet_enum** enumerator)
    {
        return objectResult(__func__, items, enumerator,
                            [](auto& self, auto* made) { return self.get__NewEnum(made); });
    }

    scriblet_result scriblet_enum_next(scriblet_enum* enumerator, char** text)
    {
        // The end of the list (S_FALSE) leaves `text` null.
        return stringResult(__func__, enumerator, text,
                            [](auto& self, std::string* item) { return self.Next(item); });
    }

    scriblet_result scriblet_enum_skip(scriblet_enum* enumerator, uint32_t count)
    {
        return call(__func__, enumerator, [&](auto& self) { return self.Skip(count); });
    }

    scriblet_result scriblet_enum_reset(scriblet_enum* enumerator)
    {
        return call(__func__, enumerator, [](auto& self) { return self.Reset(); });
    }

    scriblet_result scriblet_enum_clone(scriblet_enum* enumerator, scriblet_enum** copy)
    {
        return objectResult(__func__, enumerator, copy,
                            [](auto& self, auto* made) { return self.Clone(made); });
    }

    void scriblet_enum_release(scriblet_enum* enumerator)
    {
        delete enumerator;
    }
}
