#include "platform/Digest.h"

#include <cstdio>

std::string Sha256Hex(const void* data, std::size_t size)
{
    unsigned char digest[32] = {};
    if (!Sha256(data, size, digest))
        return {};
    std::string hex;
    for (unsigned char b : digest)
    {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}
