#pragma once
// The library's own diagnostic log: a private hierarchy writing "Logging/scriblet.log" below the
// application-data folder, at WARN and above. Made on first use.

#include <string>

namespace qcl::logging
{
class scriblet_logger
{
public:
    // Writes `text` at `level` when the internal log is enabled for it. Never throws.
    static void log(int level, const std::string& text);

    // Configures the internal hierarchy from the built-in properties.
    class configurer;
};
} // namespace qcl::logging
