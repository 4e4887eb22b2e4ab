// The image codecs: BMP here, the others over their C libraries in a module
// loaded on the first image of their kind (image_libs/), so that start-up
// does not relocate those libraries.
#include "runtime/io/image_codecs.h"

#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/io/image_codecs_support.h"
#include "runtime/modules.h"

namespace kiv::image_codecs {

static_assert(std::endian::native == std::endian::little, "pixels are stored as B, G, R, A bytes");

uint64_t max_pixels = 0x7FFFFFFF;

bool fits(uint64_t width, uint64_t height) {
    return width <= MAX_SIDE && height <= MAX_SIDE && width * height <= max_pixels;
}

status alloc_pixels(uint32_t width, uint32_t height, pixels* out) {
    *out = pixels{width, height, nullptr};
    if (!fits(width, height)) return TOO_LARGE;
    uint64_t count = uint64_t(width) * height;
    if (count == 0) return OK;
    out->data = static_cast<uint32_t*>(std::malloc(count * 4));
    return out->data ? OK : NO_MEMORY;
}

namespace {
using namespace support;

// BMP ---------------------------------------------------------------------------

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }
void put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void put32(uint8_t* p, uint32_t v) { put16(p, v); put16(p + 2, v >> 16); }

// A bit field of a 16- or 32-bit pixel, scaled to 0-255.
struct channel {
    uint32_t mask;
    uint32_t shift;
    uint32_t max;
};

channel channel_of(uint32_t mask) {
    if (!mask) return channel{0, 0, 0};
    uint32_t shift = uint32_t(std::countr_zero(mask));
    return channel{mask, shift, mask >> shift};
}

uint32_t extract(const channel& c, uint32_t v, uint32_t absent) {
    if (!c.mask) return absent;
    return uint32_t((uint64_t((v & c.mask) >> c.shift) * 255 + c.max / 2) / c.max);
}

enum { BI_RGB_ = 0, BI_RLE8_ = 1, BI_RLE4_ = 2, BI_BITFIELDS_ = 3, BI_ALPHABITFIELDS_ = 6 };

// The run-length forms: the pixels not drawn stay transparent black.
bool decode_rle(const uint8_t* p, const uint8_t* end, uint32_t bits, const uint32_t* palette, uint32_t colours,
                pixels* out, bool top_down) {
    std::memset(out->data, 0, uint64_t(out->width) * out->height * 4);
    uint32_t x = 0, y = 0;
    auto put = [&](uint32_t index) {
        if (x < out->width && y < out->height) {
            uint32_t row = top_down ? y : out->height - 1 - y;
            out->data[uint64_t(row) * out->width + x] = index < colours ? palette[index] : argb(255, 0, 0, 0);
        }
        x++;
    };
    while (p + 2 <= end) {
        uint32_t n = p[0], v = p[1];
        p += 2;
        if (n) {
            for (uint32_t k = 0; k < n; k++) put(bits == 8 ? v : (k & 1 ? v & 15 : v >> 4));
            continue;
        }
        if (v == 0) { x = 0; y++; continue; }
        if (v == 1) return true;
        if (v == 2) {
            if (p + 2 > end) return false;
            x += p[0];
            y += p[1];
            p += 2;
            continue;
        }
        // An absolute run of v pixels, padded to a 16-bit boundary.
        uint32_t used = bits == 8 ? v : (v + 1) / 2;
        uint32_t padded = (used + 1) & ~1u;
        if (size_t(end - p) < padded) return false;
        for (uint32_t k = 0; k < v; k++) put(bits == 8 ? p[k] : (k & 1 ? p[k / 2] & 15 : p[k / 2] >> 4));
        p += padded;
    }
    return false;
}

status decode_bmp(const uint8_t* data, size_t size, pixels* out) {
    if (size < 26) return CORRUPT;
    uint32_t offset = le32(data + 10);
    uint32_t header = le32(data + 14);
    if (header < 12 || size - 14 < header) return CORRUPT;
    const uint8_t* h = data + 14;
    int64_t width, height;
    uint32_t bits, compression = BI_RGB_, colours_used = 0;
    bool core = header < 40;
    if (core) {
        width = le16(h + 4);
        height = int16_t(le16(h + 6));
        bits = le16(h + 10);
    } else {
        width = int32_t(le32(h + 4));
        height = int32_t(le32(h + 8));
        bits = le16(h + 14);
        compression = le32(h + 16);
        colours_used = le32(h + 32);
    }
    bool top_down = height < 0;
    if (top_down) height = -height;
    if (width <= 0 || height <= 0) return CORRUPT;
    if (!fits(uint64_t(width), uint64_t(height))) return TOO_LARGE;
    // Masks follow a 40-byte header, or lie inside a longer one.
    uint32_t masks[4] = {0, 0, 0, 0};
    size_t after = 14 + size_t(header);
    bool fields = compression == BI_BITFIELDS_ || compression == BI_ALPHABITFIELDS_;
    if (fields) {
        uint32_t count = compression == BI_ALPHABITFIELDS_ ? 4 : 3;
        if (header >= 52) {
            count = header >= 56 ? 4 : 3;
            for (uint32_t i = 0; i < count; i++) masks[i] = le32(h + 40 + 4 * i);
        } else {
            if (size - after < 4 * count) return CORRUPT;
            for (uint32_t i = 0; i < count; i++) masks[i] = le32(data + after + 4 * i);
            after += 4 * count;
        }
        if (bits != 16 && bits != 32) return CORRUPT;
    } else if (bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (bits == 32) {
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;  // the fourth byte is unused
    }
    if (compression == BI_RLE8_ && bits != 8) return CORRUPT;
    if (compression == BI_RLE4_ && bits != 4) return CORRUPT;
    if (compression > BI_BITFIELDS_ && compression != BI_ALPHABITFIELDS_) return CORRUPT;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return CORRUPT;
    // The palette sits between the headers and the pixels.
    uint32_t palette[256];
    uint32_t colours = 0;
    if (bits <= 8) {
        uint32_t entry = core ? 3 : 4;
        colours = colours_used && colours_used < (1u << bits) ? colours_used : 1u << bits;
        size_t room = offset > after ? offset - after : 0;
        if (room > size - after) room = size - after;
        if (colours > room / entry) colours = uint32_t(room / entry);
        if (!colours) return CORRUPT;
        for (uint32_t i = 0; i < colours; i++) {
            const uint8_t* e = data + after + size_t(i) * entry;
            palette[i] = argb(255, e[2], e[1], e[0]);
        }
    }
    if (offset >= size) return CORRUPT;
    bool runs = compression == BI_RLE8_ || compression == BI_RLE4_;
    // Plain rows must all be there before any pixel is made.
    uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
    if (!runs && stride * uint64_t(height) > size - offset) return CORRUPT;
    status s = alloc_pixels(uint32_t(width), uint32_t(height), out);
    if (s != OK) return s;
    if (runs) {
        if (decode_rle(data + offset, data + size, bits, palette, colours, out, top_down)) return OK;
        std::free(out->data);
        out->data = nullptr;
        return CORRUPT;
    }
    channel r = channel_of(masks[0]), g = channel_of(masks[1]), b = channel_of(masks[2]), a = channel_of(masks[3]);
    for (int64_t y = 0; y < height; y++) {
        const uint8_t* row = data + offset + stride * uint64_t(top_down ? y : height - 1 - y);
        uint32_t* dst = out->data + uint64_t(y) * uint64_t(width);
        for (int64_t x = 0; x < width; x++) {
            uint32_t p;
            switch (bits) {
                case 1: case 4: case 8: {
                    uint32_t per = 8 / bits;
                    uint32_t byte = row[x / per];
                    uint32_t index = (byte >> (8 - bits * (uint32_t(x % per) + 1))) & ((1u << bits) - 1);
                    p = index < colours ? palette[index] : argb(255, 0, 0, 0);
                    break;
                }
                case 24: p = argb(255, row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
                default: {
                    uint32_t v = bits == 16 ? le16(row + 2 * x) : le32(row + 4 * x);
                    p = argb(extract(a, v, 255), extract(r, v, 0), extract(g, v, 0), extract(b, v, 0));
                }
            }
            dst[x] = p;
        }
    }
    return OK;
}

// 24 bits when opaque; otherwise 32 bits with an alpha mask in a version 4
// header, which readers take as straight alpha.
status encode_bmp(const uint32_t* px, uint32_t width, uint32_t height, bytes* out) {
    bool alpha = !opaque_q(px, uint64_t(width) * height);
    uint32_t header = alpha ? 108 : 40;
    uint64_t stride = alpha ? uint64_t(width) * 4 : (uint64_t(width) * 3 + 3) / 4 * 4;
    uint64_t total = 14 + header + stride * height;
    if (total > 0xFFFFFFFFu) return TOO_LARGE;
    if (!reserve(out, size_t(total))) return NO_MEMORY;
    uint8_t* p = out->data;
    std::memset(p, 0, 14 + header);
    p[0] = 'B', p[1] = 'M';
    put32(p + 2, uint32_t(total));
    put32(p + 10, 14 + header);
    uint8_t* h = p + 14;
    put32(h, header);
    put32(h + 4, width);
    put32(h + 8, height);
    put16(h + 12, 1);
    put16(h + 14, alpha ? 32 : 24);
    put32(h + 16, alpha ? BI_BITFIELDS_ : BI_RGB_);
    put32(h + 20, uint32_t(stride * height));
    put32(h + 24, 2835);  // 72 dots per inch
    put32(h + 28, 2835);
    if (alpha) {
        put32(h + 40, 0x00FF0000);
        put32(h + 44, 0x0000FF00);
        put32(h + 48, 0x000000FF);
        put32(h + 52, 0xFF000000);
        put32(h + 56, 0x73524742);  // sRGB
    }
    uint8_t* rows = p + 14 + header;
    for (uint32_t y = 0; y < height; y++) {
        const uint32_t* src = px + uint64_t(height - 1 - y) * width;
        uint8_t* dst = rows + stride * y;
        if (alpha) {
            std::memcpy(dst, src, size_t(width) * 4);
            continue;
        }
        for (uint32_t x = 0; x < width; x++) {
            dst[3 * x] = uint8_t(src[x]);
            dst[3 * x + 1] = uint8_t(src[x] >> 8);
            dst[3 * x + 2] = uint8_t(src[x] >> 16);
        }
        std::memset(dst + size_t(width) * 3, 0, size_t(stride - uint64_t(width) * 3));
    }
    out->size = size_t(total);
    return OK;
}

// The library codecs, null when the module cannot be had.
const library_codecs* libraries() {
    static const library_codecs* table = [] {
        void* entry = modules::find("kivimage", "kiv_image_library_codecs");
        return entry ? reinterpret_cast<const library_codecs* (*)()>(entry)() : nullptr;
    }();
    return table;
}

}  // namespace

int32_t sniff(const uint8_t* data, size_t size) {
    if (size >= 4 && data[0] == 137 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G') return IMAGE_PNG;
    if (size >= 3 && data[0] == 255 && data[1] == 216 && data[2] == 255) return IMAGE_JPEG;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return IMAGE_BMP;
    if (size >= 6 && std::memcmp(data, "GIF8", 4) == 0 && (data[4] == '7' || data[4] == '9') && data[5] == 'a')
        return IMAGE_GIF;
    if (size >= 4 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0)) return IMAGE_TIFF;
    return -1;
}

status decode(const uint8_t* data, size_t size, pixels* out) {
    *out = pixels{0, 0, nullptr};
    switch (sniff(data, size)) {
        case IMAGE_BMP: return decode_bmp(data, size, out);
        case IMAGE_PNG: case IMAGE_GIF: case IMAGE_JPEG: case IMAGE_TIFF: {
            const library_codecs* l = libraries();
            return l ? l->decode[sniff(data, size)](data, size, out) : CORRUPT;
        }
        default: return CORRUPT;
    }
}

status encode(const uint32_t* px, uint32_t width, uint32_t height, int32_t codec, bytes* out) {
    *out = bytes{};
    if (!width || !height || !fits(width, height)) return TOO_LARGE;
    switch (codec) {
        case IMAGE_BMP: return encode_bmp(px, width, height, out);
        case IMAGE_PNG: case IMAGE_GIF: case IMAGE_JPEG: case IMAGE_TIFF: {
            const library_codecs* l = libraries();
            return l ? l->encode[codec](px, width, height, out) : CORRUPT;
        }
        default: return CORRUPT;
    }
}

}  // namespace kiv::image_codecs
