// The upgrade information answer from any body: it reads or throws a std::runtime_error, and an installer
// address is read exactly when the offered version is newer than the running one. The file name taken from
// that address is the fallback or a plain name that stays in its folder.
#include "app/InstallerFileName.h"
#include "app/UpgradeChecker.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const dwl::Version running{1, 13, 0};
    try
    {
        const dwl::UpgradeChecker::Offer offer =
            dwl::UpgradeChecker::readUpgradeInfo(std::string(reinterpret_cast<const char*>(data), size), running);
        if (!(running < offer.version) && !offer.installerUrl.empty())
            std::abort();
        const std::wstring fallback = L"fallback";
        const std::wstring name = dwl::installerFileName(offer.installerUrl, fallback);
        if (name != fallback &&
            (name.empty() || name.front() == L'.' || name.find(L'/') != std::wstring::npos))
            std::abort();
    }
    catch (const std::runtime_error&)
    {
    }
    return 0;
}
