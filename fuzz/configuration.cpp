// The configuration reader from any text: it reads or throws, and whatever it reads is written back and read
// again to the same record.
#include "app/Configuration.h"
#include "compat/DataProtection.h"
#include "compat/KnownFolders.h"
#include "json_spirit/Reader.h"
#include "json_spirit/Value.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The stored password is protected under a key of the fuzzer's own.
    char folder[] = "/tmp/fuzz_configuration.XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        std::abort();
    compat::setDataProtectionKeyFile(std::string(folder) + "/UserKey");
    compat::setKnownFolderForTesting(FOLDERID_Profile, L"/home/fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    dwl::Configuration record;
    try
    {
        dwl::Configuration::read(record, json_spirit::parseMemberList(
                                             std::string_view(reinterpret_cast<const char*>(data), size)));
    }
    catch (const std::runtime_error&) // the JSON library's errors, "Decryption error", bad ids,
                                      // std::overflow_error
    {
        return 0;
    }
    dwl::Configuration again;
    dwl::Configuration::read(again, json_spirit::parseMemberList(dwl::Configuration::toText(record)));
    if (!(again == record))
        std::abort();
    return 0;
}
