#pragma once
// Helpers shared by the codecs of image_codecs.cpp and of the library
// module (image_libs/): pixels, growing output buffers, bounded input.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/io/image_codecs.h"

namespace kiv::image_codecs::support {

inline uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }
inline uint32_t alpha_of(uint32_t p) { return p >> 24; }

inline bool opaque_q(const uint32_t* px, uint64_t count) {
    for (uint64_t i = 0; i < count; i++)
        if (alpha_of(px[i]) != 255) return false;
    return true;
}

// Growing output buffers. Appends fail (false) only when memory runs out.
inline bool reserve(bytes* b, size_t more) {
    if (more <= b->capacity - b->size) return true;
    size_t want = b->capacity ? b->capacity : 4096;
    while (want - b->size < more) {
        if (want > SIZE_MAX / 2) return false;
        want *= 2;
    }
    auto* grown = static_cast<uint8_t*>(std::realloc(b->data, want));
    if (!grown) return false;
    b->data = grown;
    b->capacity = want;
    return true;
}

inline bool append(bytes* b, const void* data, size_t n) {
    if (!reserve(b, n)) return false;
    std::memcpy(b->data + b->size, data, n);
    b->size += n;
    return true;
}

inline void release(bytes* b) {
    std::free(b->data);
    *b = bytes{};
}

// Input read by the libraries' callbacks, bounded by its length.
struct reader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

inline size_t take(reader* r, void* out, size_t n) {
    size_t k = n < r->size - r->pos ? n : r->size - r->pos;
    std::memcpy(out, r->data + r->pos, k);
    r->pos += k;
    return k;
}


// The codecs over C libraries, in the module: by codec number (BMP's slot
// is empty).
struct library_codecs {
    status (*decode[5])(const uint8_t* data, size_t size, pixels* out);
    status (*encode[5])(const uint32_t* px, uint32_t width, uint32_t height, bytes* out);
};

}  // namespace kiv::image_codecs::support
