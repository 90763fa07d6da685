#include "api/IWayfoldApi.h"

#include "qcl/Format.h"

#include <algorithm>

namespace dwl
{
namespace
{
std::string upperCased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return text;
}

constexpr const wchar_t* kStatusTexts[] = {L"COMPLETE", L"UPLOADING", L"ERROR",   L"SAVING",
                                           L"SAVED",    L"SCANNING",  L"SCANNED", L"VIRUS_DETECTED"};
} // namespace

std::wostream& IWayfoldApi::Asset::typeToString(std::wostream& stream, Type type)
{
    switch (type)
    {
    case Document: return stream << L"DOCUMENT";
    case Folder: return stream << L"FOLDER";
    }
    return stream << L"IWayfoldApi::Asset::Type(" << static_cast<std::uint32_t>(type) << L")";
}

std::wostream& IWayfoldApi::Asset::statusToString(std::wostream& stream, Status status)
{
    if (status <= VirusDetected)
        return stream << kStatusTexts[status];
    return stream << L"IWayfoldApi::Asset::Status(" << static_cast<std::uint32_t>(status) << L")";
}

IWayfoldApi::Asset::Type IWayfoldApi::Asset::typeFromString(const std::string& text)
{
    const std::string upper = upperCased(text);
    if (upper == "DOCUMENT")
        return Document;
    if (upper == "FOLDER" || upper == "CONTAINER")
        return Folder;
    throw qcl::basic_runtime_error<wchar_t>(qcl::format(L"Bad Asset type: %1%", text));
}

IWayfoldApi::Asset::Status IWayfoldApi::Asset::statusFromString(const std::string& text)
{
    const std::string upper = upperCased(text);
    for (std::uint32_t i = 0; i <= VirusDetected; ++i)
        if (qcl::string::utf8ToUtf16(upper) == kStatusTexts[i])
            return static_cast<Status>(i);
    throw qcl::basic_runtime_error<wchar_t>(qcl::format(L"Bad Asset status: %1%", text));
}
} // namespace dwl
