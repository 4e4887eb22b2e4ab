#pragma once
// Hash functions: MurmurHash3 (x86, 32-bit) with one process-wide seed, and
// its finalisation step alone for pointers and integers.
#include <cstddef>
#include <cstdint>

namespace kiv::hash {

// A fixed seed: hash values and bucket placement are the same in every run.
constexpr uint32_t SEED = 0x9747B28C;

uint32_t murmur3(const void* data, size_t length);
uint32_t murmur3_seeded(const void* data, size_t length, uint32_t seed);

// MurmurHash3's 32-bit finalisation alone.
inline uint32_t mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

// The smallest power of two not below n (n >= 1).
inline uint32_t next_pow2(uint32_t n) {
    uint32_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

}  // namespace kiv::hash
