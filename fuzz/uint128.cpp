// Parsing either throws ParseError or gives a value whose text form parses back to it.
#include "qcl/Uint128.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try
    {
        const auto value = qcl::uint128::parse(text);
        if (qcl::uint128::parse(value.str()) != value || value.str().size() != 39)
            std::abort();
    }
    catch (const qcl::uint128::ParseError&)
    {
    }
    return 0;
}
