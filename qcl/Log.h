#pragma once
// Log statements: QCL_LOG_INFO(L"Scanning " << qcl::string::escaped(name, L'\'') << L" ...");
// The line is the qualified name of the logging function, a tab, then the message; nothing is built
// when the level is disabled.

#include "qcl/Logger.h"
#include "qcl/String.h"
#include "qcl/Uint128.h"

#include <sstream>

#define QCL_LOG_AT(level, expression)                                                                        \
    do                                                                                                       \
    {                                                                                                        \
        auto& qclLogger_ = ::qcl::logging::Logger::instance();                                              \
        if (qclLogger_.isEnabled(level))                                                                    \
        {                                                                                                    \
            static const std::wstring qclFunction_ = ::qcl::logging::qualifiedFunctionName(__PRETTY_FUNCTION__); \
            std::wostringstream qclStream_;                                                                  \
            qclStream_ << qclFunction_ << L'\t';                                                             \
            {                                                                                                \
                using ::qcl::string::operator<<;                                                             \
                qclStream_ << expression;                                                                    \
            }                                                                                                \
            qclLogger_.write(level, qclStream_.str(), __FILE__, __LINE__);                                   \
        }                                                                                                    \
    } while (false)

#define QCL_LOG_TRACE(expression) QCL_LOG_AT(::qcl::logging::Trace, expression)
#define QCL_LOG_DEBUG(expression) QCL_LOG_AT(::qcl::logging::Debug, expression)
#define QCL_LOG_INFO(expression) QCL_LOG_AT(::qcl::logging::Info, expression)
#define QCL_LOG_WARN(expression) QCL_LOG_AT(::qcl::logging::Warn, expression)
#define QCL_LOG_ERROR(expression) QCL_LOG_AT(::qcl::logging::Error, expression)
#define QCL_LOG_FATAL(expression) QCL_LOG_AT(::qcl::logging::Fatal, expression)
