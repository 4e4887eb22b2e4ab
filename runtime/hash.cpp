// MurmurHash3, x86 32-bit variant.
#include "runtime/hash.h"

#include <cstring>

namespace kiv::hash {

static inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

uint32_t murmur3_seeded(const void* data, size_t length, uint32_t seed) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint32_t c1 = 0xCC9E2D51, c2 = 0x1B873593;
    uint32_t h = seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; i++) {
        uint32_t k;
        std::memcpy(&k, bytes + i * 4, 4);
        k *= c1;
        k = rotl(k, 15);
        k *= c2;
        h ^= k;
        h = rotl(h, 13);
        h = h * 5 + 0xE6546B64;
    }
    const uint8_t* tail = bytes + blocks * 4;
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            k *= c1;
            k = rotl(k, 15);
            k *= c2;
            h ^= k;
    }
    h ^= uint32_t(length);
    return mix(h);
}

uint32_t murmur3(const void* data, size_t length) { return murmur3_seeded(data, length, SEED); }

}  // namespace kiv::hash
