// SHA-256 of a byte range, by the platform's own cryptography.
#pragma once

#include <cstddef>
#include <string>

// The 32 bytes of the digest; false when the platform could not compute it.
bool Sha256(const void* data, std::size_t size, unsigned char (&digest)[32]);
// Lower-case hex, 64 digits; empty when it could not be computed.
std::string Sha256Hex(const void* data, std::size_t size);
