#pragma once
// The image codecs: BMP (own code), PNG (libpng), JPEG (libjpeg-turbo), GIF
// (giflib) and TIFF (libtiff), between encoded bytes and 32-bit pixels.
//
// Everything here works on plain malloc'd memory and reports through a
// status: it never makes a Kiv value nor raises a Kiv error. The libraries
// leave their error paths through longjmp, which must neither cross C++
// frames nor strand runtime state half-made; the caller turns the status
// into an error once the library is done.
#include <cstddef>
#include <cstdint>

namespace kiv::image_codecs {

// The codec ids that `encode` takes.
enum codec : int32_t { IMAGE_BMP = 0, IMAGE_PNG = 1, IMAGE_GIF = 2, IMAGE_JPEG = 3, IMAGE_TIFF = 4 };

// The widest and tallest picture: sides share one 32-bit word.
constexpr uint32_t MAX_SIDE = 65535;

enum status : int32_t { OK = 0, CORRUPT, TOO_LARGE, NO_MEMORY };

// A picture: 0xAARRGGBB words (alpha 255 is opaque), rows top-down with no
// padding. `data` is malloc'd; the receiver frees it.
struct pixels {
    uint32_t width;
    uint32_t height;
    uint32_t* data;
};

// Encoded output, malloc'd; the receiver frees `data`.
struct bytes {
    uint8_t* data;
    size_t size;
    size_t capacity;
};

// The most pixels a picture may have (decoded or made): the pixel count must
// stay a 32-bit index. Fuzzing lowers it to keep inputs cheap.
extern uint64_t max_pixels;

// True when a picture of that size may be made: each side at most MAX_SIDE
// and the pixel count within max_pixels.
bool fits(uint64_t width, uint64_t height);

// Room for a picture of that size (uninitialised); TOO_LARGE past `fits`,
// NO_MEMORY when the allocation fails. A side of 0 gives no memory and OK.
status alloc_pixels(uint32_t width, uint32_t height, pixels* out);

// The codec the leading bytes announce, or -1. Short data announce none.
int32_t sniff(const uint8_t* data, size_t size);

// Decodes the first frame (or page) of an image in any of the five formats.
status decode(const uint8_t* data, size_t size, pixels* out);

// Encodes a picture of at least 1x1; JPEG drops alpha, GIF keeps up to 256
// colours exactly (more are reduced) and one transparent colour.
status encode(const uint32_t* argb, uint32_t width, uint32_t height, int32_t codec, bytes* out);

}  // namespace kiv::image_codecs
