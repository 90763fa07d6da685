#pragma once
// The folders the logging library works with (UTF-8 paths).

#include <string>

namespace scriblet
{
// The local application-data folder followed by "quillmere"; empty when no such folder is known.
std::string applicationDataFolder();

// The folder of the library's own module file.
std::string libraryFolder();

// `folder` + "/" + `name`, without doubling a "/" at the end of `folder`.
std::string joinPath(const std::string& folder, const std::string& name);
} // namespace scriblet
