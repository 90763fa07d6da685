// Names from the server become local names: every candidate is a valid, bounded name that keeps its
// attempt suffix, and splitting a name gives it back whole.
#include "qcl/LocalFileNames.h"

#include <cstdint>
#include <cstdlib>

namespace
{
void check(bool condition)
{
    if (!condition)
        std::abort();
}

std::size_t utf8Bytes(const std::wstring& text)
{
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const auto unit = static_cast<std::uint32_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
            static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<std::uint32_t>(text[i + 1]) <= 0xDFFF)
        {
            bytes += 4;
            ++i;
        }
        else
            bytes += unit < 0x80 || (unit >= 0xDC80 && unit <= 0xDCFF) ? 1 : unit < 0x800 ? 2 : 3;
    }
    return bytes;
}

void checkCandidate(const std::wstring& candidate, std::uint64_t attempt)
{
    check(!candidate.empty() && candidate.size() <= dwl::kMaxFileNameLength);
    check(utf8Bytes(candidate) <= dwl::kMaxFileNameLength);
    check(candidate != L"." && candidate != L"..");
    if constexpr (dwl::kWindowsFileNameRules)
        check(candidate.back() != L'.' && candidate.back() != L' ');
    check(dwl::findInvalidFileNameChar(candidate.begin(), candidate.end()) == candidate.end());
    if (attempt >= 2)
        check(candidate.find(L" (" + std::to_wstring(attempt) + L")") != std::wstring::npos);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint64_t attempt = data[0] % 16 + 1;
    std::wstring name;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        name += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));

    const std::wstring sanitized = dwl::sanitizeFileName(name);
    check(!sanitized.empty() && sanitized != L"." && sanitized != L"..");
    if constexpr (dwl::kWindowsFileNameRules)
        check(sanitized.back() != L'.' && sanitized.back() != L' ');
    check(dwl::findInvalidFileNameChar(sanitized.begin(), sanitized.end()) == sanitized.end());
    check(dwl::sanitizeFileName(sanitized) == sanitized);

    const auto [stem, extension] = dwl::splitFileName(name);
    check(extension.empty() ? stem == name : stem + L"." + extension == name);
    const auto [sanitizedStem, dottedExtension] = dwl::splitSanitizedFileName(name);
    check(sanitizedStem + dottedExtension == sanitized);

    checkCandidate(dwl::directoryCandidateName(name, attempt), attempt);
    checkCandidate(dwl::fileCandidateName(name, attempt), attempt);
    check(dwl::fileCandidateName(name, attempt) != dwl::fileCandidateName(name, attempt + 1));
    check(dwl::isFileCandidateName(dwl::fileCandidateName(name, attempt), name));
    check(dwl::isDirectoryCandidateName(dwl::directoryCandidateName(name, attempt), name));
    return 0;
}
