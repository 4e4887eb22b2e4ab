// image!: the pixel store, the actions of the row, the pixel and data
// conversions, the text form and the codec entry points.
#include "runtime/datatypes/image.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/io/image_codecs.h"
#include "runtime/ownership.h"
#include "runtime/slots.h"
#include "runtime/stack.h"

namespace kiv::image {

namespace codecs = image_codecs;

// The pixel store --------------------------------------------------------------

namespace {

uint32_t store_class = 0;

void drop_render(store* s) {
    if (s->render && s->release_render) s->release_render(s->render);
    s->render = nullptr;
}

void release_store(void* object) {
    auto* s = static_cast<store*>(object);
    drop_render(s);
    std::free(s->pixels);
    delete s;
}

void mark(kiv_value* img) { externals::mark_slot(int32_t(img->data2) - 1, nullptr); }

kiv_value size_pair(uint32_t width, uint32_t height) {
    kiv_value p;
    pair::make_at(&p, int32_t(width), int32_t(height));
    return p;
}

// Takes a picture's memory into a new store named by the cell.
kiv_value* adopt(kiv_value* cell, const codecs::pixels& px) {
    *cell = kiv_value{TYPE_IMAGE, 0, 0, px.height << 16 | px.width};
    if (!px.data) return cell;
    auto* s = new store{px.width, px.height, px.data, 0, 0, nullptr, nullptr};
    cell->data2 = uint32_t(externals::alloc_slot(s, store_class)) + 1;
    return cell;
}

[[noreturn]] void no_memory() { fire(err::INTERNAL, err::internal::no_memory); }
[[noreturn]] void bad_media() { fire(err::ACCESS, err::access::bad_media); }

// Room for a picture, refused before anything is allocated when a side does
// not fit the size word or the pixel count does not fit an index.
codecs::pixels alloc_checked(int64_t width, int64_t height) {
    if (width > MAX_SIDE || height > MAX_SIDE) {
        kiv_value size = size_pair(uint32_t(std::min<int64_t>(width, INT32_MAX)),
                                   uint32_t(std::min<int64_t>(height, INT32_MAX)));
        fire(err::SCRIPT, err::script::out_of_range, &size);
    }
    codecs::pixels px;
    if (codecs::alloc_pixels(uint32_t(width), uint32_t(height), &px) != codecs::OK) no_memory();
    return px;
}

void fill(uint32_t* p, uint64_t n, uint32_t pixel) { std::fill(p, p + n, pixel); }

}  // namespace

store* store_of(const kiv_value* img) {
    if (!img->data2) return nullptr;
    const externals::slot* s = externals::at(int32_t(img->data2) - 1);
    return s ? static_cast<store*>(s->object) : nullptr;
}

kiv_value* make_at(kiv_value* cell, uint32_t width, uint32_t height) {
    codecs::pixels px = alloc_checked(width, height);
    if (px.data) fill(px.data, uint64_t(width) * height, 0xFFFFFFFF);
    return adopt(cell, px);
}

kiv_value* push(uint32_t width, uint32_t height) { return make_at(stack::push(), width, height); }
kiv_value* make_in(kiv_value* block, uint32_t width, uint32_t height) {
    return make_at(block::alloc_tail(block), width, height);
}

kiv_value* push_from_pixels(uint32_t width, uint32_t height, const uint32_t* argb, uint32_t stride) {
    codecs::pixels px = alloc_checked(width, height);
    if (!stride) stride = width * 4;
    for (uint32_t y = 0; px.data && y < height; y++)
        std::memcpy(px.data + uint64_t(y) * width, reinterpret_cast<const uint8_t*>(argb) + uint64_t(y) * stride,
                    size_t(width) * 4);
    return adopt(stack::push(), px);
}

uint32_t* lock(const kiv_value* img, bool write) {
    store* s = store_of(img);
    if (!s) return nullptr;
    s->locks++;
    if (write) {
        s->flags |= WRITTEN;
        drop_render(s);
    }
    return s->pixels;
}

void unlock(const kiv_value* img) {
    if (store* s = store_of(img)) s->locks--;
}

namespace {

// A lock released on every way out, also when an error is raised.
class pixel_lock {
  public:
    pixel_lock(const kiv_value* img, bool write) : img_(*img), pixels_(lock(img, write)) {}
    ~pixel_lock() { unlock(&img_); }
    pixel_lock(const pixel_lock&) = delete;
    pixel_lock& operator=(const pixel_lock&) = delete;
    uint32_t* pixels() const { return pixels_; }

  private:
    kiv_value img_;
    uint32_t* pixels_;
};

}  // namespace

kiv_value* push_resized(const kiv_value* img, uint32_t width, uint32_t height) {
    kiv_value held = *img;
    codecs::pixels px = alloc_checked(width, height);
    uint32_t sw = width_of(&held), sh = height_of(&held);
    pixel_lock l(&held, false);
    for (uint32_t y = 0; px.data && y < height; y++)
        for (uint32_t x = 0; x < width; x++)
            px.data[uint64_t(y) * width + x] =
                l.pixels() ? l.pixels()[uint64_t(y) * sh / height * sw + uint64_t(x) * sw / width] : 0xFFFFFFFF;
    return adopt(stack::push(), px);
}

kiv_value* push_flipped(const kiv_value* img) {
    kiv_value held = *img;
    uint32_t w = width_of(&held), h = height_of(&held);
    if (!store_of(&held)) return stack::push_value(&held);
    codecs::pixels px = alloc_checked(w, h);
    pixel_lock l(&held, false);
    for (uint32_t y = 0; y < h; y++)
        std::memcpy(px.data + uint64_t(y) * w, l.pixels() + uint64_t(h - 1 - y) * w, size_t(w) * 4);
    return adopt(stack::push(), px);
}

void premultiply(const uint32_t* in, uint32_t* out, uint64_t count) {
    for (uint64_t i = 0; i < count; i++) {
        uint32_t p = in[i], a = p >> 24;
        auto scale = [a](uint32_t c) { return (c * a + 127) / 255; };
        out[i] = a << 24 | scale(p >> 16 & 255) << 16 | scale(p >> 8 & 255) << 8 | scale(p & 255);
    }
}

void unpremultiply(const uint32_t* in, uint32_t* out, uint64_t count) {
    for (uint64_t i = 0; i < count; i++) {
        uint32_t p = in[i], a = p >> 24;
        auto scale = [a](uint32_t c) { return a ? std::min<uint32_t>(255, (c * 255 + a / 2) / a) : 0; };
        out[i] = a << 24 | scale(p >> 16 & 255) << 16 | scale(p >> 8 & 255) << 8 | scale(p & 255);
    }
}

// Pixels and tuples ------------------------------------------------------------

kiv_value* pixel_to_tuple(kiv_value* cell, uint32_t p) {
    uint8_t bytes[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(255 - (p >> 24))};
    return tuple::make_at(cell, 4, bytes);
}

uint32_t tuple_to_pixel(const kiv_value* t) {
    const uint8_t* b = tuple::bytes_of(t);
    uint32_t alpha = tuple::length_of(t) > 3 ? 255u - b[3] : 255u;
    return alpha << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
}

// Data of the whole picture -----------------------------------------------------

kiv_value* extract_data(const kiv_value* img, int32_t method) {
    kiv_value held = *img;
    uint64_t n = pixel_count(&held);
    uint64_t unit = method == METHOD_ALPHA ? 1 : method == METHOD_RGB ? 3 : 4;
    if (n * unit > INT32_MAX) no_memory();
    kiv_value* bin = binary::make_at(stack::push(), uint32_t(n * unit));
    pixel_lock l(&held, false);
    if (!l.pixels()) return bin;
    const uint32_t* p = l.pixels();
    std::string bytes(size_t(n * unit), '\0');
    auto* out = reinterpret_cast<uint8_t*>(bytes.data());
    for (uint64_t i = 0; i < n; i++) {
        uint32_t v = p[i];
        if (method == METHOD_ALPHA) {
            out[i] = uint8_t(255 - (v >> 24));
        } else if (method == METHOD_RGB) {
            out[3 * i] = uint8_t(v >> 16), out[3 * i + 1] = uint8_t(v >> 8), out[3 * i + 2] = uint8_t(v);
        } else {
            std::memcpy(out + 4 * i, &v, 4);
        }
    }
    binary::ks_append(bin, out, uint32_t(bytes.size()));
    return bin;
}

void set_data(kiv_value* img, const kiv_value* value, int32_t method) {
    uint32_t t = type_of(value);
    if (t != TYPE_BINARY && t != TYPE_TUPLE && t != TYPE_INTEGER) fire(err::SCRIPT, err::script::invalid_arg, value);
    pixel_lock l(img, true);
    uint32_t* p = l.pixels();
    uint64_t n = p ? pixel_count(img) : 0;
    if (t == TYPE_BINARY) {
        const uint8_t* b = binary::ks_head(value);
        uint64_t length = binary::ks_length_q(value);
        if (method == METHOD_ARGB) {
            std::memcpy(p, b, size_t(std::min(length, n * 4)));
        } else if (method == METHOD_RGB) {
            for (uint64_t i = 0, k = std::min(length / 3, n); i < k; i++)
                p[i] = (p[i] & 0xFF000000) | uint32_t(b[3 * i]) << 16 | uint32_t(b[3 * i + 1]) << 8 | b[3 * i + 2];
        } else {
            for (uint64_t i = 0, k = std::min(length, n); i < k; i++)
                p[i] = (p[i] & 0xFFFFFF) | uint32_t(255 - b[i]) << 24;
        }
        return;
    }
    // A colour: the tuple's bytes R, G, B, T read as one little-endian word.
    uint32_t c = t == TYPE_INTEGER ? uint32_t(integer::get_value(value)) : 0;
    if (t == TYPE_TUPLE) {
        const uint8_t* b = tuple::bytes_of(value);
        c = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
            (tuple::length_of(value) > 3 ? uint32_t(b[3]) << 24 : 0);
    }
    uint32_t rgb = (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    for (uint64_t i = 0; i < n; i++) {
        if (method == METHOD_ARGB) p[i] = (255 - (c >> 24)) << 24 | rgb;
        else if (method == METHOD_RGB) p[i] = (p[i] & 0xFF000000) | rgb;
        else p[i] = (p[i] & 0xFFFFFF) | (255 - (c & 0xFF)) << 24;
    }
}

// Positions --------------------------------------------------------------------

namespace {

// The absolute index a position value names, clamped to 0 .. width x
// height; `out` tells that it lies outside the picture. Pick mode (pick,
// poke, at) counts from 1 and takes -1 as the pixel before the cursor; offset
// mode (skip) counts from 0.
uint32_t index_of(const kiv_value* img, const kiv_value* position, bool pick_mode, bool* out) {
    int64_t w = width_of(img), h = height_of(img), n;
    *out = false;
    if (type_of(position) == TYPE_INTEGER) {
        n = integer::get_value(position);
    } else if (type_of(position) == TYPE_PAIR) {
        int64_t x = pair::x_of(position), y = pair::y_of(position);
        *out = pick_mode ? x > w || x <= 0 || y > h || y <= 0 : x >= w || x < 0 || y >= h || y < 0;
        n = x + w * (pick_mode && y > 0 ? y - 1 : y);
    } else {
        fire(err::SCRIPT, err::script::invalid_arg, position);
    }
    int64_t p = n + int64_t(img->data1) - (pick_mode ? 1 : 0);
    if (pick_mode && n <= 0) p++;
    int64_t count = w * h;
    if (n == 0 || p < 0 || p >= count) *out = true;
    return uint32_t(std::clamp<int64_t>(p, 0, count));
}

kiv_value* arg(int n) { return stack::arguments + n; }

uint32_t column_of(const kiv_value* img, uint32_t index) { return width_of(img) ? index % width_of(img) : 0; }
uint32_t row_of(const kiv_value* img, uint32_t index) { return width_of(img) ? index / width_of(img) : 0; }

}  // namespace

// Making -----------------------------------------------------------------------

namespace {

// A copy of the rectangle at (x, y) of that size, clipped to the picture.
kiv_value* copy_rect(const kiv_value* src, kiv_value* cell, int64_t x, int64_t y, int64_t w, int64_t h) {
    int64_t sw = width_of(src), sh = height_of(src);
    x = std::clamp<int64_t>(x, 0, sw), y = std::clamp<int64_t>(y, 0, sh);
    w = std::clamp<int64_t>(w, 0, sw - x), h = std::clamp<int64_t>(h, 0, sh - y);
    if (w < 1 || h < 1) return make_at(cell, 0, 0);
    kiv_value held = *src;
    codecs::pixels px = alloc_checked(w, h);
    pixel_lock l(&held, false);
    for (int64_t row = 0; row < h; row++)
        std::memcpy(px.data + row * w, l.pixels() + (y + row) * sw + x, size_t(w) * 4);
    return adopt(cell, px);
}

kiv_value* copy_whole(const kiv_value* src, kiv_value* cell) {
    if (!store_of(src)) {
        *cell = kiv_value{TYPE_IMAGE, 0, 0, src->data3};
        return cell;
    }
    return copy_rect(src, cell, 0, 0, width_of(src), height_of(src));
}

[[noreturn]] void bad_to(const kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_IMAGE);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
}

int64_t side(int32_t v) { return v < 0 ? 0 : v; }

}  // namespace

kiv_value* (*face_capture)(const kiv_value* value) = nullptr;

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t) {
    if (type_of(spec) == TYPE_OBJECT && face_capture)
        if (kiv_value* captured = face_capture(spec)) return captured;
    if (type_of(spec) != TYPE_IMAGE) bad_to(spec);
    return copy_whole(spec, stack::push());
}

// From a size, or a block of a size, then R, G, B bytes or a fill colour,
// then transparency bytes. Missing colour data leave white, missing
// transparency opaque.
static kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_PAIR) {
        codecs::pixels px = alloc_checked(side(pair::x_of(spec)), side(pair::y_of(spec)));
        if (px.data) fill(px.data, uint64_t(px.width) * px.height, 0xFFFFFFFF);
        return adopt(stack::push(), px);
    }
    if (t != TYPE_BLOCK) return to(proto, spec, type);
    int32_t n = block::ks_length_q(spec);
    if (n <= 0) {
        if (type_of(proto) != TYPE_IMAGE) fire(err::SCRIPT, err::script::invalid_arg, spec);
        return copy_whole(proto, stack::push());
    }
    kiv_value given[3] = {none_value, none_value, none_value};
    for (int32_t i = 0; i < std::min(n, 3); i++) given[i] = block::cells(spec)[spec->data1 + uint32_t(i)];
    if (type_of(&given[0]) != TYPE_PAIR) fire(err::SCRIPT, err::script::invalid_arg, &given[0]);
    uint32_t t1 = type_of(&given[1]), t2 = type_of(&given[2]);
    if (n > 1 && t1 != TYPE_BINARY && t1 != TYPE_TUPLE) fire(err::SCRIPT, err::script::invalid_arg, &given[1]);
    if (n > 2 && t2 != TYPE_BINARY) fire(err::SCRIPT, err::script::invalid_arg, &given[2]);
    kiv_value* img = make(proto, &given[0], type);
    if (t1 == TYPE_TUPLE) set_data(img, &given[1], METHOD_ARGB);
    if (t1 == TYPE_BINARY) set_data(img, &given[1], METHOD_RGB);
    if (n > 2) set_data(img, &given[2], METHOD_ALPHA);
    return img;
}

// Text -------------------------------------------------------------------------

namespace {

void line_break(std::string& text, int32_t level) {
    text += '\n';
    text.append(size_t(4 * std::max(level, 0)), ' ');
}

void put_hex(std::string& text, uint32_t byte) {
    static const char digits[] = "0123456789ABCDEF";
    text += digits[byte >> 4];
    text += digits[byte & 15];
}

}  // namespace

// Colours then, when any pixel is not opaque, transparencies, from the
// cursor; ten pixels a line unless flat.
static int32_t mold(kiv_value* img, kiv_value* buffer, bool only, bool, bool flat, kiv_value* arg_, int32_t part,
                    int32_t indent) {
    kiv_value held = *img;
    bool limited = arg_ != nullptr;
    std::string text = only ? "" : "make image! [";
    text += std::to_string(width_of(&held)) + "x" + std::to_string(height_of(&held));
    pixel_lock l(&held, false);
    if (!l.pixels()) {
        text += " #{}";
    } else {
        uint64_t n = pixel_count(&held), from = std::min<uint64_t>(held.data1, n);
        bool lines = !flat && n - from >= 8;
        const uint32_t* p = l.pixels();
        text += " #{";
        if (lines) line_break(text, indent + 1);
        bool opaque = true, cut = false;
        for (uint64_t i = from; i < n && !cut; i++) {
            put_hex(text, p[i] >> 16 & 255), put_hex(text, p[i] >> 8 & 255), put_hex(text, p[i] & 255);
            opaque = opaque && p[i] >> 24 == 255;
            if (!flat && (i - from + 1) % 10 == 0 && i + 1 < n) line_break(text, indent + 1);
            cut = limited && int64_t(part) - int64_t(text.size()) <= 0;
        }
        if (lines) line_break(text, indent);
        text += "}";
        for (uint64_t i = from; i < n && opaque && !cut; i++) opaque = p[i] >> 24 == 255;
        if (!opaque && !cut) {
            text += " #{";
            if (!flat) line_break(text, indent + 1);
            for (uint64_t i = from; i < n && !cut; i++) {
                put_hex(text, 255 - (p[i] >> 24));
                if (!flat && (i - from + 1) % 10 == 0 && i + 1 < n) line_break(text, indent + 1);
                cut = limited && int64_t(part) - int64_t(text.size()) <= 0;
            }
            if (!flat) line_break(text, indent);
            text += "}";
        }
    }
    if (!only) text += "]";
    string::concatenate_bytes(buffer, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    return part - int32_t(std::min<size_t>(text.size(), INT32_MAX));
}

static int32_t form(kiv_value* img, kiv_value* buffer, kiv_value* arg_, int32_t part) {
    return mold(img, buffer, false, false, false, arg_, part, 0);
}

// Comparison -------------------------------------------------------------------

// Two values are the same when they share the store and the cursor. Others
// are ordered by pixel count, then width (so that 2x3 and 3x2 differ), then
// their pixel memories.
static int32_t compare(kiv_value* a, kiv_value* b, int32_t op) {
    if (type_of(b) != TYPE_IMAGE) return COMPARE_INCOMPARABLE;
    bool same = a->data2 == b->data2 && a->data1 == b->data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (same && op <= COMP_STRICT_EQUAL) return 0;
    if (op >= COMP_LESSER && op <= COMP_GREATER_EQUAL) return COMPARE_INCOMPARABLE;
    uint64_t na = pixel_count(a), nb = pixel_count(b);
    if (na != nb) return na < nb ? -1 : 1;
    if (width_of(a) != width_of(b)) return width_of(a) < width_of(b) ? -1 : 1;
    if (!na) return 0;
    pixel_lock la(a, false), lb(b, false);
    int c = std::memcmp(la.pixels(), lb.pixels(), size_t(na) * 4);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// Navigation -------------------------------------------------------------------

static void at() {
    bool out;
    arg(0)->data1 = index_of(arg(0), arg(1), true, &out);
}

static void skip() {
    bool out;
    arg(0)->data1 = index_of(arg(0), arg(1), false, &out);
}

static void next() {
    if (arg(0)->data1 + 1 <= pixel_count(arg(0))) arg(0)->data1++;
}

static void tail() { arg(0)->data1 = pixel_count(arg(0)); }
static void tail_q() { logic::box(arg(0)->data1 >= pixel_count(arg(0))); }
static int32_t length_q(kiv_value* img) { return int32_t(pixel_count(img)); }

// Pixels -----------------------------------------------------------------------

static kiv_value* pick(kiv_value* img, int32_t, kiv_value* index_cell) {
    bool out;
    uint32_t i = index_of(img, index_cell, true, &out);
    if (out) return const_cast<kiv_value*>(&none_value);
    pixel_lock l(img, false);
    return pixel_to_tuple(stack::push(), l.pixels()[i]);
}

static kiv_value* poke(kiv_value* img, int32_t, kiv_value* value, kiv_value* index_cell) {
    bool out;
    uint32_t i = index_of(img, index_cell, true, &out);
    if (out) fire(err::SCRIPT, err::script::out_of_range, index_cell);
    if (type_of(value) != TYPE_TUPLE) fire(err::SCRIPT, err::script::invalid_arg, value);
    pixel_lock l(img, true);
    l.pixels()[i] = tuple_to_pixel(value);
    return value;
}

// Without /part: the rectangle from the cursor's column and row to the
// bottom-right corner. A pair gives the size (both parts negative: a
// rectangle ending at the cursor); a position of the same image the
// opposite corner.
static kiv_value* copy(kiv_value* img, kiv_value* result, kiv_value* part, bool, kiv_value*) {
    if (!store_of(img)) return copy_whole(img, result);
    int64_t x = column_of(img, img->data1), y = row_of(img, img->data1);
    if (!part) return copy_rect(img, result, x, y, int64_t(width_of(img)) - x, int64_t(height_of(img)) - y);
    uint32_t t = type_of(part);
    if (t == TYPE_INTEGER) fire(err::INTERNAL, err::internal::not_done);
    if (t == TYPE_PAIR) {
        int64_t w = pair::x_of(part), h = pair::y_of(part);
        if (w < 0 && h < 0) {
            int64_t x0 = std::max<int64_t>(0, x + w), y0 = std::max<int64_t>(0, y + h);
            return copy_rect(img, result, x0, y0, x - x0, y - y0);
        }
        if (w < 1 || h < 1) return make_at(result, 0, 0);
        return copy_rect(img, result, x, y, w, h);
    }
    if (t == TYPE_IMAGE && part->data2 == img->data2) {
        uint32_t count = pixel_count(img);
        uint32_t a = std::min(img->data1, count), b = std::min(part->data1, count);
        if (a > b) std::swap(a, b);
        int64_t x1 = column_of(img, a), y1 = row_of(img, a), x2 = column_of(img, b), y2 = row_of(img, b);
        return copy_rect(img, result, x1, y1, x2 - x1, y2 - y1);
    }
    kiv_value word = actions::refinement_word("part");
    fire(err::SCRIPT, err::script::invalid_refine_arg, &word, part);
}

// A tuple sets the pixel at the cursor and moves on; an image is laid over
// the picture with its top-left corner at the cursor, clipped, and the cursor
// ends past the changed area.
static kiv_value* change(kiv_value* img, kiv_value* value, int32_t part, bool, int32_t dup) {
    if (part >= 0 || dup != 1) fire(err::INTERNAL, err::internal::not_done);
    if (type_of(value) == TYPE_TUPLE) {
        kiv_value one;
        integer::make_at(&one, 1);
        poke(img, 1, value, &one);
        img->data1++;
        return img;
    }
    if (type_of(value) != TYPE_IMAGE) {
        kiv_value dt;
        datatype::make_at(&dt, type_of(value));
        fire(err::SCRIPT, err::script::invalid_type, &dt);
    }
    uint32_t count = pixel_count(img);
    if (img->data1 >= count || !store_of(value)) return img;
    uint32_t w = width_of(img), h = height_of(img), sw = width_of(value), sh = height_of(value);
    uint32_t x = column_of(img, img->data1), y = row_of(img, img->data1);
    uint32_t rows = std::min(sh, h - y), cols = std::min(sw, w - x);
    {
        pixel_lock from(value, false), to_(img, true);
        // memmove: the source may be this very picture.
        for (uint32_t r = 0; r < rows; r++)
            std::memmove(to_.pixels() + uint64_t(y + r) * w + x, from.pixels() + uint64_t(r) * sw, size_t(cols) * 4);
    }
    uint32_t last = rows ? y + rows - 1 : y;
    img->data1 = last * w + std::min(x + sw, w);
    return img;
}

// Paths ------------------------------------------------------------------------

namespace {

int32_t method_named(const kiv_value* element) {
    uint32_t t = type_of(element);
    if (t < TYPE_WORD || t > TYPE_GET_WORD) return -2;
    int32_t s = symbol::resolve(word::symbol_of(element));
    if (s == symbol::resolve(symbol::make("size"))) return -1;
    if (s == symbol::resolve(symbol::make("argb"))) return METHOD_ARGB;
    if (s == symbol::resolve(symbol::make("rgb"))) return METHOD_RGB;
    if (s == symbol::resolve(symbol::make("alpha"))) return METHOD_ALPHA;
    return -2;
}

// An owned image tells its owner before and after a change through a path,
// as poke and change do.
template <class Change>
void told_owner(kiv_value* img, const char* before, const char* after, const kiv_value* value, int32_t index,
                int32_t part, Change change) {
    if (!(img->header & ownership::IMAGE_OWNED)) {
        change();
        return;
    }
    kiv_value target = *img, told = *value;
    bool notified = ownership::check(&target, symbol::make(before), &told, index, part);
    change();
    if (notified) ownership::check(&target, symbol::make(after), &told, index, part);
}

}  // namespace

static kiv_value* eval_path(kiv_value* img, kiv_value* element, kiv_value* value, kiv_value* path, kiv_value*,
                            kiv_value*, int32_t, bool, bool, bool, bool) {
    uint32_t t = type_of(element);
    if (t == TYPE_INTEGER || t == TYPE_PAIR) {
        if (!value) return pick(img, 0, element);
        kiv_value v = *value;
        told_owner(img, "poke", "poked", &v, int32_t(img->data1), 1, [&] { poke(img, 0, &v, element); });
        return value;
    }
    int32_t method = method_named(element);
    if (method == -2 || (method == -1 && value)) {
        kiv_value p = path ? *path : none_value;
        fire(err::SCRIPT, err::script::invalid_path, &p, element);
    }
    if (method == -1) return pair::push(int32_t(width_of(img)), int32_t(height_of(img)));
    if (!value) return extract_data(img, method);
    told_owner(img, "change", "changed", value, 0, int32_t(pixel_count(img)), [&] { set_data(img, value, method); });
    return value;
}

// Codecs -----------------------------------------------------------------------

namespace {

struct freed {
    void operator()(void* p) const { std::free(p); }
};

}  // namespace

kiv_value* load_binary(const kiv_value* bin) {
    const uint8_t* data = binary::ks_head(bin);
    uint32_t size = binary::ks_length_q(bin);
    if (codecs::sniff(data, size) < 0) return stack::push_value(&none_value);
    // The decoder makes no Kiv value: the bytes stay where they are.
    codecs::pixels px;
    codecs::status s = codecs::decode(data, size, &px);
    if (s == codecs::NO_MEMORY) no_memory();
    if (s != codecs::OK) bad_media();
    return adopt(stack::push(), px);
}

kiv_value* load_file(const kiv_value* file) {
    kiv_value f = *file;
    kiv_value* held = stack::push_value(&f);
    kiv_value bytes = *actions::get<SLOT_READ>(held)(held, nullptr, nullptr, true, false, false, nullptr);
    if (type_of(&bytes) != TYPE_BINARY) fire(err::ACCESS, err::access::cannot_open, &f);
    *held = bytes;
    codecs::pixels px;
    codecs::status s = codecs::decode(binary::ks_head(held), binary::ks_length_q(held), &px);
    if (s == codecs::NO_MEMORY) no_memory();
    if (s != codecs::OK) fire(err::ACCESS, err::access::cannot_open, &f);
    return adopt(held, px);
}

kiv_value* encode(const kiv_value* img, const kiv_value* target, int32_t codec) {
    kiv_value held = *img, where = target ? *target : none_value;
    uint32_t wt = type_of(&where);
    if (wt != TYPE_NONE && wt != TYPE_BINARY && wt != TYPE_FILE && wt != TYPE_URL)
        fire(err::SCRIPT, err::script::invalid_arg, &where);
    if (!store_of(&held)) bad_media();
    codecs::bytes out;
    codecs::status s;
    {
        pixel_lock l(&held, false);
        s = codecs::encode(l.pixels(), width_of(&held), height_of(&held), codec, &out);
    }
    std::unique_ptr<uint8_t, freed> owned(out.data);
    if (s == codecs::NO_MEMORY) no_memory();
    if (s != codecs::OK || !out.size) bad_media();
    if (out.size > INT32_MAX) no_memory();
    if (wt == TYPE_BINARY) {
        kiv_value* bin = stack::push_value(&where);
        binary::ks_append(bin, out.data, uint32_t(out.size));
        return bin;
    }
    kiv_value* data = binary::load(out.data, uint32_t(out.size));
    if (wt == TYPE_NONE) return data;
    kiv_value* dst = stack::push_value(&where);
    actions::get<SLOT_WRITE>(dst)(dst, data, true, false, false, false, nullptr, nullptr, nullptr, nullptr);
    return stack::push_value(&where);
}

namespace {

template <int32_t Codec>
void encode_routine() {
    kiv_value img = stack::arguments[0];
    if (type_of(&img) != TYPE_IMAGE) fire(err::SCRIPT, err::script::invalid_arg, &img);
    stack::set_last(encode(&img, stack::arguments + 1, Codec));
}

void decode_routine() {
    kiv_value data = stack::arguments[0];
    uint32_t t = type_of(&data);
    if (t == TYPE_BINARY) stack::set_last(load_binary(&data));
    else if (t == TYPE_FILE) stack::set_last(load_file(&data));
    else fire(err::SCRIPT, err::script::invalid_arg, &data);
}

}  // namespace

void register_codecs() {
    kiv_value codecs_map = *boot::field(boot::system_object(), "codecs");
    static const struct {
        const char* name;
        boot::routine_code encode;
    } table[] = {
        {"png", encode_routine<codecs::IMAGE_PNG>}, {"jpeg", encode_routine<codecs::IMAGE_JPEG>},
        {"bmp", encode_routine<codecs::IMAGE_BMP>}, {"gif", encode_routine<codecs::IMAGE_GIF>},
        {"tiff", encode_routine<codecs::IMAGE_TIFF>},
    };
    for (const auto& entry : table) {
        kiv_value name{TYPE_WORD, 0, uint32_t(symbol::make(entry.name)), 0};
        kiv_value* found = map::find_value(&codecs_map, &name, false);
        if (!found) continue;
        kiv_value codec = *found;
        boot::bind_routine(&codec, "encode", entry.encode);
        boot::bind_routine(&codec, "decode", decode_routine);
    }
}

// Registration -----------------------------------------------------------------

void init() {
    using namespace actions;
    store_class = externals::register_class("image", release_store);
    collector::image_mark = mark;
    datatype::register_(TYPE_IMAGE, TYPE_SERIES, "image!", {
        impl<SLOT_MAKE>(make),            // make
        UNSUPPORTED,                      // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(to),                // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        UNSUPPORTED,                      // absolute
        UNSUPPORTED,                      // add
        UNSUPPORTED,                      // divide
        UNSUPPORTED,                      // multiply
        UNSUPPORTED,                      // negate
        UNSUPPORTED,                      // power
        UNSUPPORTED,                      // remainder
        UNSUPPORTED,                      // round
        UNSUPPORTED,                      // subtract
        UNSUPPORTED,                      // even?
        UNSUPPORTED,                      // odd?
        UNSUPPORTED,                      // and~
        UNSUPPORTED,                      // complement
        UNSUPPORTED,                      // or~
        UNSUPPORTED,                      // xor~
        UNSUPPORTED,                      // append
        impl<SLOT_AT>(at),                // at
        INHERITED,                        // back
        impl<SLOT_CHANGE>(change),        // change
        UNSUPPORTED,                      // clear
        impl<SLOT_COPY>(copy),            // copy
        UNSUPPORTED,                      // find
        INHERITED,                        // head
        INHERITED,                        // head?
        INHERITED,                        // index?
        UNSUPPORTED,                      // insert
        impl<SLOT_LENGTH_Q>(length_q),    // length?
        UNSUPPORTED,                      // move
        impl<SLOT_NEXT>(next),            // next
        impl<SLOT_PICK>(pick),            // pick
        impl<SLOT_POKE>(poke),            // poke
        UNSUPPORTED,                      // put
        UNSUPPORTED,                      // remove
        UNSUPPORTED,                      // reverse
        UNSUPPORTED,                      // select
        UNSUPPORTED,                      // sort
        impl<SLOT_SKIP>(skip),            // skip
        UNSUPPORTED,                      // swap
        impl<SLOT_TAIL>(tail),            // tail
        impl<SLOT_TAIL_Q>(tail_q),        // tail?
        UNSUPPORTED,                      // take
        UNSUPPORTED,                      // trim
        UNSUPPORTED,                      // create
        UNSUPPORTED,                      // close
        UNSUPPORTED,                      // delete
        INHERITED,                        // modify
        UNSUPPORTED,                      // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        UNSUPPORTED,                      // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        UNSUPPORTED,                      // write
    });
}

}  // namespace kiv::image
