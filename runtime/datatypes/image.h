#pragma once
// image!: a picture of 32-bit pixels seen as a series of pixels in row-major
// order with a cursor.
//
// The cell is {header, cursor (0-based pixel index, 0 to width x height),
// store (its external slot index + 1; 0 when the picture has no pixels),
// size (width in bits 0-15, height in bits 16-31)}.
//
// The pixels live in a pixel store outside the Kiv heap, shared by every
// image! value naming it and freed by the collector when none does. A pixel
// is the word 0xAARRGGBB (alpha 255 is opaque), so in memory its bytes are
// B, G, R, A; rows are top-down with no padding (stride = width x 4). At the
// language level the fourth component is transparency: a pixel reads as the
// tuple R.G.B.T with T = 255 - alpha.
//
// For native code (codecs, the GUI backend, the camera): make an image of a
// size, then lock its pixels, read or write them, and unlock. A store made or
// found here is kept alive only by image! cells the collector sees (argument
// stack, series, contexts): put a new cell there before the next Kiv
// allocation.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::image {

constexpr uint32_t MAX_SIDE = 65535;

// Store flags.
constexpr uint32_t WRITTEN = 2;  // the pixels were written since the render copy was made

struct store {
    uint32_t width;
    uint32_t height;
    uint32_t* pixels;  // width x height words; null when a side is 0
    uint32_t flags;
    uint32_t locks;    // open locks (debugging aid: locks never block)
    // A copy the GUI backend keeps for drawing (a cairo surface, say) and the
    // routine that frees it; dropped whenever the pixels are written.
    void* render;
    void (*release_render)(void* render);
};

inline uint32_t width_of(const kiv_value* img) { return img->data3 & 0xFFFF; }
inline uint32_t height_of(const kiv_value* img) { return img->data3 >> 16; }
inline uint32_t pixel_count(const kiv_value* img) { return width_of(img) * height_of(img); }
// The store of an image! cell, or null when it has no pixels.
store* store_of(const kiv_value* img);

// A new image of that size, every pixel opaque white. A side above MAX_SIDE
// raises `out-of-range` with the size; a picture too large for memory raises
// `no-memory`. A side of 0 makes an image without pixels.
kiv_value* make_at(kiv_value* cell, uint32_t width, uint32_t height);
kiv_value* push(uint32_t width, uint32_t height);
kiv_value* make_in(kiv_value* block, uint32_t width, uint32_t height);
// A new image holding a copy of ARGB pixels (stride in bytes; 0 means width x 4).
kiv_value* push_from_pixels(uint32_t width, uint32_t height, const uint32_t* argb, uint32_t stride);

// Pixel access: the whole picture, rows top-down. Writing drops the render
// copy. Null when the image has no pixels. Every lock is paired with unlock.
uint32_t* lock(const kiv_value* img, bool write);
void unlock(const kiv_value* img);

// Derived images, pushed: a nearest-neighbour scaling to a new size, and the
// rows in reverse order (camera frames arrive bottom-up).
kiv_value* push_resized(const kiv_value* img, uint32_t width, uint32_t height);
kiv_value* push_flipped(const kiv_value* img);

// The drawing boundary: cairo's ARGB32 surfaces hold the same words with the
// colour premultiplied by alpha. `in` and `out` may be the same memory.
void premultiply(const uint32_t* in, uint32_t* out, uint64_t count);
void unpremultiply(const uint32_t* in, uint32_t* out, uint64_t count);

// The GUI backend's capture of a face for `to image!`: the face's pixels in
// a new image pushed on the stack (none pushed for a face without a view),
// or null for a value that is no face. Null while no backend is installed.
extern kiv_value* (*face_capture)(const kiv_value* value);

// Conversions between a pixel and its tuple.
kiv_value* pixel_to_tuple(kiv_value* cell, uint32_t pixel);
uint32_t tuple_to_pixel(const kiv_value* tuple);

// Data of the whole picture: method 0 (`alpha`) one transparency byte per
// pixel, 1 (`rgb`) R, G, B, 2 (`argb`) the pixel words as they lie in memory.
enum method : int32_t { METHOD_ALPHA = 0, METHOD_RGB = 1, METHOD_ARGB = 2 };
kiv_value* extract_data(const kiv_value* img, int32_t method);  // pushed binary!
void set_data(kiv_value* img, const kiv_value* value, int32_t method);

// The codecs: a binary! of a known format gives a pushed image!; unknown
// data give none; damaged data raise `bad-media`. A file! is read and
// decoded; any failure raises `cannot-open` with the file.
kiv_value* load_binary(const kiv_value* bin);
kiv_value* load_file(const kiv_value* file);
// Encodes with a codec id (BMP 0, PNG 1, GIF 2, JPEG 3, TIFF 4) into a new
// binary (target none), the end of a binary, or a file or URL (written). The
// result is pushed: the binary, or the file or URL. Any failure raises
// `bad-media`; nothing partial is returned.
kiv_value* encode(const kiv_value* img, const kiv_value* target, int32_t codec);

// Binds the routines of the five image codec objects of system/codecs.
void register_codecs();

void init();

}  // namespace kiv::image
