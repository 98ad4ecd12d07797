#include "platform/Digest.h"

#include <windows.h>

#include <bcrypt.h>

bool Sha256(const void* data, std::size_t size, unsigned char (&digest)[32])
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
    // The count is a ULONG: hash in pieces whatever the size.
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t done = 0; ok && done < size;)
    {
        const auto piece = static_cast<ULONG>(size - done < (1u << 30) ? size - done : (1u << 30));
        ok = BCryptHashData(hash, const_cast<PUCHAR>(bytes + done), piece, 0) >= 0;
        done += piece;
    }
    ok = ok && BCryptFinishHash(hash, digest, sizeof digest, 0) >= 0;
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}
