#include "qcl/Logger.h"

#include "scriblet/LogWriter.h"

#include <cstring>
#include <mutex>

namespace qcl::logging
{
Logger::Logger() : mSubsystem(L"Wayfold"), mWriter(nullptr)
{
    mSystem.PutSubsystem(mSubsystem);
    mWriter = mSystem.CreateLogWriter(mSubsystem);
    for (int level = Trace; level <= Fatal; level += 10000)
        mEnabled[level / 10000] = mWriter->IsEnabledFor(level);
}

Logger& Logger::instance()
{
    static std::once_flag once;
    // Never destroyed: threads and static destructors may log until the process ends.
    static Logger* logger = nullptr;
    std::call_once(once, [] { logger = new Logger(); });
    return *logger;
}

void Logger::write(int level, const std::wstring& text, const char* file, int line)
{
    mWriter->Message(level, text, file == nullptr ? nullptr : bareFileName(file).c_str(), line);
}

std::wstring qualifiedFunctionName(const char* prettyFunction)
{
    const std::string text(prettyFunction);
    // The parameter list starts at the first "(" outside template brackets that does not belong to an
    // operator name such as "operator()".
    int depth = 0;
    std::size_t open = std::string::npos;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (c == '<')
            ++depth;
        else if (c == '>' && depth > 0)
            --depth;
        else if (c == '(' && depth == 0)
        {
            if (i >= 8 && text.compare(i - 8, 8, "operator") == 0)
            {
                ++i; // skip the "()" of operator()
                continue;
            }
            open = i;
            break;
        }
    }
    if (open == std::string::npos)
        open = text.size();
    std::size_t start = open;
    depth = 0;
    while (start > 0)
    {
        const char c = text[start - 1];
        if (c == '>')
            ++depth;
        else if (c == '<' && depth > 0)
            --depth;
        else if (c == ' ' && depth == 0)
            break;
        --start;
    }
    return std::wstring(text.begin() + static_cast<std::ptrdiff_t>(start),
                        text.begin() + static_cast<std::ptrdiff_t>(open));
}

std::string bareFileName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    std::string name = slash ? slash + 1 : path;
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}
} // namespace qcl::logging
