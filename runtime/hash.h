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

// MurmurHash3 fed one 32-bit block at a time: the same value as murmur3
// over the blocks laid out in memory, without laying them out.
struct murmur3_blocks {
    uint32_t h = SEED;
    uint32_t count = 0;
    void add(uint32_t k) {
        k *= 0xCC9E2D51;
        k = (k << 15) | (k >> 17);
        k *= 0x1B873593;
        h ^= k;
        h = (h << 13) | (h >> 19);
        h = h * 5 + 0xE6546B64;
        count++;
    }
    uint32_t finish() const { return mix(h ^ (count * 4)); }
};

// The smallest power of two not below n (n >= 1).
inline uint32_t next_pow2(uint32_t n) {
    uint32_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

}  // namespace kiv::hash
