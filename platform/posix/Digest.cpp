#include "platform/Digest.h"

#include <openssl/sha.h>

bool Sha256(const void* data, std::size_t size, unsigned char (&digest)[32])
{
    return SHA256(static_cast<const unsigned char*>(data), size, digest) != nullptr;
}
