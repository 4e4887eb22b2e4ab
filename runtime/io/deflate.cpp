// The Deflate encoder and the zlib and gzip framings.
#include "runtime/io/deflate.h"

#include <array>
#include <cstring>

#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/checksum.h"

namespace kiv::compression {

namespace {
int32_t method_symbols[3];
}

void init_words() {
    method_symbols[ZLIB] = symbol::make("zlib");
    method_symbols[DEFLATE] = symbol::make("deflate");
    method_symbols[GZIP] = symbol::make("gzip");
}

int32_t method_of(int32_t sym) {
    for (int32_t m : {ZLIB, DEFLATE, GZIP})
        if (symbol::resolve(method_symbols[m]) == symbol::resolve(sym)) return m;
    return -1;
}

}  // namespace kiv::compression

namespace kiv::deflate {

using namespace compression;

namespace {

constexpr uint32_t BUCKETS = 1024;
constexpr uint32_t WAYS = 4;
constexpr size_t WINDOW = 32768;
constexpr uint32_t MAX_MATCH = 258;

constexpr std::array<uint8_t, 256> build_reversed() {
    std::array<uint8_t, 256> t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t r = 0;
        for (int b = 0; b < 8; b++) r |= ((n >> b) & 1) << (7 - b);
        t[n] = uint8_t(r);
    }
    return t;
}
constexpr std::array<uint8_t, 256> REVERSED = build_reversed();

// The bits of a code (n of them, most significant first on the wire).
uint32_t reverse(uint32_t code, int n) {
    uint32_t r = uint32_t(REVERSED[code & 0xFF]) << 8 | REVERSED[code >> 8];
    return r >> (16 - n);
}

// Writes least significant bit first; bytes past the capacity are counted.
struct bit_writer {
    uint8_t* out;
    size_t capacity;
    size_t written = 0;
    uint32_t bits = 0;
    int count = 0;

    void put(uint32_t value, int n) {
        bits |= value << count;
        count += n;
        while (count >= 8) {
            if (written < capacity) out[written] = uint8_t(bits);
            written++;
            bits >>= 8;
            count -= 8;
        }
    }
    void code(uint32_t c, int n) { put(reverse(c, n), n); }
    void flush() {
        if (count) put(0, 8 - count);
    }
};

void literal(bit_writer& w, uint8_t b) {
    if (b < 144) w.code(0x30 + b, 8);
    else w.code(0x190 + (b - 144), 9);
}

void symbol(bit_writer& w, uint32_t s) {
    if (s < 280) w.code(s - 256, 7);
    else w.code(0xC0 + (s - 280), 8);
}

constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint16_t DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

int extra_of(int code, bool distance) {
    if (distance) return code < 4 ? 0 : code / 2 - 1;
    return code < 8 || code == 28 ? 0 : code / 4 - 1;
}

void match(bit_writer& w, uint32_t length, uint32_t distance) {
    int lc = 28;
    while (LENGTH_BASE[lc] > length) lc--;
    symbol(w, 257 + uint32_t(lc));
    if (int e = extra_of(lc, false)) w.put(length - LENGTH_BASE[lc], e);
    int dc = 29;
    while (DIST_BASE[dc] > distance) dc--;
    w.code(uint32_t(dc), 5);
    if (int e = extra_of(dc, true)) w.put(distance - DIST_BASE[dc], e);
}

uint32_t prefix(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

uint32_t bucket(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & (BUCKETS - 1);
}

}  // namespace

int32_t compress(uint8_t* out, size_t* length, const uint8_t* in, size_t n) {
    bit_writer w{out, *length};
    w.put(1, 1);  // final block
    w.put(1, 2);  // fixed codes
    // Positions plus one, 0 for an empty slot.
    std::array<size_t, BUCKETS * WAYS> table{};
    size_t p = 0;
    while (p < n) {
        size_t start = p;
        uint32_t h = n - p >= 3 ? bucket(prefix(in + p)) : 0;
        bool found = false;
        if (p >= 3 && n - p >= 3) {
            for (uint32_t way = 0; way < WAYS && !found; way++) {
                size_t slot = table[h * WAYS + way];
                if (!slot) continue;
                size_t q = slot - 1;
                if (!(q < p && p < q + WINDOW) || std::memcmp(in + q, in + p, 3) != 0) continue;
                uint32_t len = 3;
                while (len < MAX_MATCH && p + len < n && in[q + len] == in[p + len]) len++;
                match(w, len, uint32_t(p - q));
                p += len;
                found = true;
            }
        }
        if (!found) literal(w, in[p++]);
        if (n - p >= 3 && n - start >= 3) {
            uint32_t v = prefix(in + p);
            table[h * WAYS + (((v >> 14) - v) & (WAYS - 1))] = start + 1;
        }
    }
    symbol(w, 256);
    w.flush();
    *length = w.written;
    return w.written > w.capacity ? TOO_SMALL : OK;
}

}  // namespace kiv::deflate

namespace kiv::zlib {

using namespace compression;

namespace {

void put_be32(uint8_t* at, uint32_t v) {
    at[0] = uint8_t(v >> 24);
    at[1] = uint8_t(v >> 16);
    at[2] = uint8_t(v >> 8);
    at[3] = uint8_t(v);
}

uint32_t get_be32(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

}  // namespace

int32_t compress(uint8_t* out, size_t* length, const uint8_t* in, size_t n) {
    size_t capacity = *length;
    if (capacity < 6) {
        *length = n + 6;
        return BAD_DATA;
    }
    out[0] = 0x78;
    out[1] = 0x01;
    size_t stream = capacity - 6;
    deflate::compress(out + 2, &stream, in, n);
    *length = stream + 6;
    if (*length > capacity) return TOO_SMALL;
    put_be32(out + 2 + stream, crypto::adler32(in, n));
    return OK;
}

int32_t decompress(uint8_t* out, size_t* length, const uint8_t* in, size_t n) {
    if (n < 6) return BAD_DATA;
    uint8_t cmf = in[0], flg = in[1];
    if ((cmf * 256u + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return BAD_DATA;
    if (int32_t r = inflate::decompress(out, length, in + 2, n - 6)) return r;
    if (get_be32(in + n - 4) != crypto::adler32(out, *length)) return BAD_DATA;
    return OK;
}

}  // namespace kiv::zlib

namespace kiv::gzip {

using namespace compression;

namespace {

constexpr uint8_t HEADER[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x04};
enum flag : uint8_t { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16 };

void put_le32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; i++) at[i] = uint8_t(v >> (8 * i));
}

uint32_t get_le32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

}  // namespace

// Input that already looks like gzip is compressed all the same: passing
// it through would make decompress give back other bytes than were given.
int32_t compress(uint8_t* out, size_t* length, const uint8_t* in, size_t n) {
    size_t capacity = *length;
    if (capacity < 18) {
        *length = n + 18;
        return BAD_DATA;
    }
    std::memcpy(out, HEADER, 10);
    size_t stream = capacity - 18;
    deflate::compress(out + 10, &stream, in, n);
    *length = stream + 18;
    if (*length > capacity) return TOO_SMALL;
    put_le32(out + 10 + stream, uint32_t(crypto::crc32(in, n)));
    put_le32(out + 14 + stream, uint32_t(n));
    return OK;
}

int32_t decompress(uint8_t* out, size_t* length, const uint8_t* in, size_t n) {
    if (n < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 0x08 || (in[3] & 0xE0)) return BAD_DATA;
    uint8_t flags = in[3];
    // The optional fields may not reach into the 8-byte trailer.
    size_t body_end = n - 8;
    size_t at = 10;
    if (flags & FEXTRA) {
        if (body_end - at < 2) return BAD_DATA;
        size_t extra = in[at] | size_t(in[at + 1]) << 8;
        at += 2;
        if (body_end - at < extra) return BAD_DATA;
        at += extra;
    }
    for (uint8_t f : {FNAME, FCOMMENT}) {
        if (!(flags & f)) continue;
        const void* nul = std::memchr(in + at, 0, body_end - at);
        if (!nul) return BAD_DATA;
        at = size_t(static_cast<const uint8_t*>(nul) - in) + 1;
    }
    if (flags & FHCRC) {
        if (body_end - at < 2) return BAD_DATA;
        uint32_t crc = uint32_t(crypto::crc32(in, at)) & 0xFFFF;
        if ((in[at] | uint32_t(in[at + 1]) << 8) != crc) return BAD_DATA;
        at += 2;
    }
    uint32_t crc = get_le32(in + body_end);
    size_t isize = get_le32(in + body_end + 4);
    size_t body = body_end - at;
    // No Deflate stream of this length can stand for more: such a size is
    // refused before anyone allocates room for it.
    if (isize > MAX_RATIO * body + 8) return BAD_DATA;
    if (*length < isize) {
        *length = isize;
        return TOO_SMALL;
    }
    size_t produced = isize;
    // The empty member: a header and a trailer of zeros, nothing between.
    if (body == 0) produced = 0;
    else if (int32_t r = inflate::decompress(out, &produced, in + at, body)) return r == TOO_SMALL ? BAD_DATA : r;
    if (produced != isize || uint32_t(crypto::crc32(out, produced)) != crc) return BAD_DATA;
    *length = produced;
    return OK;
}

}  // namespace kiv::gzip
