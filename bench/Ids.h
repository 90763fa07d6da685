#pragma once
// Made-up ids in the server's 39-character form, the same for the same seed.

#include <string>

namespace bench
{
inline std::string hexId(unsigned seed)
{
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (int group = 0; group < 8; ++group)
    {
        if (group > 0)
            id += '-';
        for (int digit = 0; digit < 4; ++digit)
        {
            seed = seed * 1103515245u + 12345u;
            id += digits[(seed >> 16) & 0xF];
        }
    }
    return id;
}
} // namespace bench
