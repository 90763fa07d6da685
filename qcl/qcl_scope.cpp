#include "qcl/qcl_scope.h"

#include "qcl/Logger.h"
#include "scriblet/LogWriter.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace qcl::scope::details
{
void reportFailedCleanUp(const std::type_info& guardType, const char* file, int line) noexcept
{
    try
    {
        auto& logger = logging::Logger::instance();
        if (!logger.isEnabled(logging::Error))
            return;
        int status = 0;
        std::unique_ptr<char, decltype(&std::free)> demangled(
            abi::__cxa_demangle(guardType.name(), nullptr, nullptr, &status), &std::free);
        std::string text = status == 0 && demangled ? demangled.get() : guardType.name();
        text += "::~Guard\t ??? exception.";
        logger.writer().Message(logging::Error, text, file, line);
    }
    catch (...)
    {
        // Nothing may leave a destructor; there is nowhere left to report this.
    }
}
} // namespace qcl::scope::details
