/*
 * The C interface of the scriblet logging library, for scripts and programs in other languages
 * (Python ctypes, shell through the scriblet-log tool, C).
 *
 * A logger object writes to the logs of one subsystem: it starts with the subsystem "scriblet" and
 * writes through the root logger until a name is put. A logger-items object is a 1-based list of texts;
 * an enumerator walks a copy of one.
 *
 * Conventions of every function:
 * - The result is one of the codes below; SCRIBLET_FAILED tells a failure. A failed system call gives
 *   0x8007xxxx with the system's error code in the low 16 bits. No exception leaves a function.
 * - A null handle or null out parameter gives SCRIBLET_E_POINTER; a null input string gives
 *   SCRIBLET_E_INVALIDARG. Message texts are UTF-8, malformed sequences are written as U+FFFD; names
 *   (logger, subsystem) that are not valid UTF-8 give SCRIBLET_E_INVALIDARG.
 * - An out parameter is set (to null, 0 or a new object) before the function returns, on success and
 *   on failure alike.
 * - Strings returned by the library are UTF-8 and freed with scriblet_free_string; objects are freed
 *   with their release function.
 * - A logger may be used from several threads at once. A logger-items object and an enumerator are
 *   used by one thread at a time.
 */
#ifndef SCRIBLET_C_H
#define SCRIBLET_C_H

/* A C header: the extern "C" block stays unindented. */
/* clang-format off */

#include <stdint.h>

#if defined(__GNUC__)
#define SCRIBLET_C_API __attribute__((visibility("default")))
#else
#define SCRIBLET_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t scriblet_result;

#define SCRIBLET_S_OK ((scriblet_result)0)
#define SCRIBLET_S_FALSE ((scriblet_result)1)
#define SCRIBLET_E_POINTER ((scriblet_result)0x80004003u)
#define SCRIBLET_E_FAIL ((scriblet_result)0x80004005u)
#define SCRIBLET_E_OUTOFMEMORY ((scriblet_result)0x8007000Eu)
#define SCRIBLET_E_INVALIDARG ((scriblet_result)0x80070057u)
#define SCRIBLET_FAILED(result) ((result) < 0)

/* Log levels. SCRIBLET_LEVEL_NOTSET is taken as the framework's "not set" level (-1). */
#define SCRIBLET_LEVEL_NOTSET (-10000)
#define SCRIBLET_LEVEL_TRACE 0
#define SCRIBLET_LEVEL_DEBUG 10000
#define SCRIBLET_LEVEL_INFO 20000
#define SCRIBLET_LEVEL_WARN 30000
#define SCRIBLET_LEVEL_ERROR 40000
#define SCRIBLET_LEVEL_FATAL 50000

typedef struct scriblet_logger scriblet_logger;
typedef struct scriblet_items scriblet_items;
typedef struct scriblet_enum scriblet_enum;

SCRIBLET_C_API void scriblet_free_string(char* text);

/* Logger. Each new logger configures the subsystem "scriblet" afresh from its template, so a template
 * that appeared or changed is taken up; the subsystem's other loggers wait for it and lose no line. */
SCRIBLET_C_API scriblet_result scriblet_logger_create(scriblet_logger** logger);
SCRIBLET_C_API void scriblet_logger_release(scriblet_logger* logger);

SCRIBLET_C_API scriblet_result scriblet_logger_get_name(scriblet_logger* logger, char** name);
/* Writes through the logger `name` ("a.b.c"; "" for the root logger) from now on. */
SCRIBLET_C_API scriblet_result scriblet_logger_put_name(scriblet_logger* logger, const char* name);

/* The level functions: SCRIBLET_E_FAIL when a log file the line is meant for could not be written. */
SCRIBLET_C_API scriblet_result scriblet_logger_trace(scriblet_logger* logger, const char* text);
SCRIBLET_C_API scriblet_result scriblet_logger_debug(scriblet_logger* logger, const char* text);
SCRIBLET_C_API scriblet_result scriblet_logger_information(scriblet_logger* logger, const char* text);
SCRIBLET_C_API scriblet_result scriblet_logger_warning(scriblet_logger* logger, const char* text);
SCRIBLET_C_API scriblet_result scriblet_logger_error(scriblet_logger* logger, const char* text);
SCRIBLET_C_API scriblet_result scriblet_logger_fatal_error(scriblet_logger* logger, const char* text);
SCRIBLET_C_API scriblet_result scriblet_logger_log_message(scriblet_logger* logger, int32_t level,
                                                           const char* text);

/* Sets *enabled to 1 when the logger `name` of the current subsystem writes at `level`, else 0. */
SCRIBLET_C_API scriblet_result scriblet_logger_can_write_log(scriblet_logger* logger, const char* name,
                                                             int32_t level, int* enabled);
/* The log files that the current subsystem's configuration names, joined by "|"; SCRIBLET_S_FALSE
 * and null when it names none. */
SCRIBLET_C_API scriblet_result scriblet_logger_get_all_log_path(scriblet_logger* logger, char** paths);
/* A new items object with one text "<full name>|<level>|<appenders>" per logger that the current
 * subsystem's configuration names. */
SCRIBLET_C_API scriblet_result scriblet_logger_get_logger_info(scriblet_logger* logger,
                                                               scriblet_items** items);

SCRIBLET_C_API scriblet_result scriblet_logger_get_subsystem(scriblet_logger* logger, char** subsystem);
/* Configures `subsystem` (a plain name: no "/", not "." or ".."; taken as it is, "%" included) and
 * writes to its logs from now on; the subsystem's other writers wait meanwhile, so they lose no line.
 * On failure the logger keeps its subsystem. */
SCRIBLET_C_API scriblet_result scriblet_logger_put_subsystem(scriblet_logger* logger,
                                                             const char* subsystem);
/* Does nothing; the logger is ready when created. */
SCRIBLET_C_API scriblet_result scriblet_logger_initialise(scriblet_logger* logger);

/* Logger items: indexes are 1-based; 0 or above the count gives SCRIBLET_E_INVALIDARG. */
SCRIBLET_C_API scriblet_result scriblet_items_create(scriblet_items** items);
SCRIBLET_C_API void scriblet_items_release(scriblet_items* items);
SCRIBLET_C_API scriblet_result scriblet_items_item(scriblet_items* items, int32_t index, char** text);
SCRIBLET_C_API scriblet_result scriblet_items_count(scriblet_items* items, int32_t* count);
SCRIBLET_C_API scriblet_result scriblet_items_add(scriblet_items* items, const char* text);
SCRIBLET_C_API scriblet_result scriblet_items_remove(scriblet_items* items, int32_t index);
SCRIBLET_C_API scriblet_result scriblet_items_clear(scriblet_items* items);
/* An enumerator over a copy of the items as they are now. */
SCRIBLET_C_API scriblet_result scriblet_items_new_enum(scriblet_items* items, scriblet_enum** enumerator);

/* The next text, or SCRIBLET_S_FALSE and null at the end. */
SCRIBLET_C_API scriblet_result scriblet_enum_next(scriblet_enum* enumerator, char** text);
/* Skips `count` texts; SCRIBLET_S_FALSE when fewer were left. */
SCRIBLET_C_API scriblet_result scriblet_enum_skip(scriblet_enum* enumerator, uint32_t count);
SCRIBLET_C_API scriblet_result scriblet_enum_reset(scriblet_enum* enumerator);
/* A new enumerator over the same texts at the same position. */
SCRIBLET_C_API scriblet_result scriblet_enum_clone(scriblet_enum* enumerator, scriblet_enum** copy);
SCRIBLET_C_API void scriblet_enum_release(scriblet_enum* enumerator);

#ifdef __cplusplus
}
#endif
/* clang-format on */

#endif
