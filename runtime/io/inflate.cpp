// The Deflate decoder. Every malformed stream ends in a result code: a code
// set that is over-subscribed, incomplete or empty where symbols are needed,
// a symbol no valid stream holds, a copy from before the start of the
// output, or input that ends before the final block does.
#include <algorithm>
#include <cstring>

#include "runtime/io/deflate.h"

namespace kiv::inflate {

using namespace compression;

namespace {

constexpr int MAX_BITS = 15;
constexpr int FAST_BITS = 10;  // codes up to this long decode with one lookup

constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A canonical code: a table indexed by the next FAST_BITS input bits (entry
// = symbol << 4 | length, 0 when the code is longer or not in the set), and
// the counts and sorted symbols that decode the longer codes bit by bit.
struct huffman {
    uint16_t fast[1 << FAST_BITS];
    uint16_t count[MAX_BITS + 1];
    uint16_t symbol[320];
    int32_t symbols;  // symbols with a code
};

// Builds the code of `n` lengths. False for an over-subscribed set, and for
// an incomplete one unless `partial` allows it or the set is a single
// one-bit code (an encoder with one symbol to send has no other choice).
bool build(huffman& h, const uint8_t* lengths, int n, bool partial) {
    std::memset(h.count, 0, sizeof h.count);
    for (int s = 0; s < n; s++) h.count[lengths[s]]++;
    h.count[0] = 0;
    int left = 1;
    for (int len = 1; len <= MAX_BITS; len++) {
        left = (left << 1) - h.count[len];
        if (left < 0) return false;
    }
    uint16_t offset[MAX_BITS + 2];
    offset[1] = 0;
    for (int len = 1; len <= MAX_BITS; len++) offset[len + 1] = uint16_t(offset[len] + h.count[len]);
    h.symbols = offset[MAX_BITS + 1];
    if (left > 0 && !partial && !(h.symbols == 1 && h.count[1] == 1)) return false;
    for (int s = 0; s < n; s++)
        if (lengths[s]) h.symbol[offset[lengths[s]]++] = uint16_t(s);
    // The fast table: each code, bit-reversed (codes arrive first bit
    // first), fills every slot whose low bits it is.
    std::memset(h.fast, 0, sizeof h.fast);
    uint32_t code = 0;
    int k = 0;
    for (int len = 1; len <= FAST_BITS; len++) {
        for (int i = 0; i < h.count[len]; i++, k++, code++) {
            uint32_t rev = 0;
            for (int b = 0; b < len; b++) rev |= ((code >> b) & 1) << (len - 1 - b);
            for (uint32_t slot = rev; slot < (1u << FAST_BITS); slot += 1u << len)
                h.fast[slot] = uint16_t(h.symbol[k] << 4 | len);
        }
        code <<= 1;
    }
    return true;
}

struct decoder {
    const uint8_t* in;
    const uint8_t* end;
    uint64_t bits = 0;
    int count = 0;        // bits in `bits`
    size_t phantom = 0;   // zero bytes put in the buffer past the input's end

    uint8_t* out;
    size_t capacity;
    size_t produced = 0;  // counts past the capacity too

    // Keeps at least 56 bits buffered; past the end of the input the buffer
    // is padded with zeros, which are fine to look at but not to use.
    void refill() {
        if (end - in >= 8) {
            uint64_t word;
            std::memcpy(&word, in, 8);
            bits |= word << count;
            in += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            if (in < end) bits |= uint64_t(*in++) << count;
            else phantom++;
            count += 8;
        }
    }
    // Bits used past the end of the input: the stream is cut short.
    bool overrun() const { return size_t(count) < phantom * 8; }

    uint32_t take(int n) {
        uint32_t v = uint32_t(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    // Takes up to 32 bits, refilling first.
    uint32_t get(int n) {
        refill();
        return take(n);
    }

    // The next symbol of the code (the buffer refilled), or -1.
    int decode(const huffman& h) {
        uint32_t e = h.fast[bits & ((1u << FAST_BITS) - 1)];
        if (e) {
            take(int(e & 15));
            return int(e >> 4);
        }
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= MAX_BITS; len++) {
            code |= int((bits >> (len - 1)) & 1);
            int n = h.count[len];
            if (code - first < n) {
                take(len);
                return h.symbol[index + code - first];
            }
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        return -1;
    }

    void put_byte(uint8_t b) {
        if (produced < capacity) out[produced] = b;
        produced++;
    }

    int32_t copy(size_t length, size_t distance) {
        if (distance > produced) return TOO_FAR_BACK;
        if (produced + length <= capacity) {
            uint8_t* to = out + produced;
            const uint8_t* from = to - distance;
            if (distance >= 8) {
                // Whole words while they cannot overlap the bytes they read.
                size_t i = 0;
                for (; i + 8 <= length; i += 8) std::memcpy(to + i, from + i, 8);
                for (; i < length; i++) to[i] = from[i];
            } else {
                for (size_t i = 0; i < length; i++) to[i] = from[i];
            }
            produced += length;
            return OK;
        }
        // Near or past the capacity: bytes past it are only counted, and a
        // byte before it never copies from past it.
        for (size_t i = 0; i < length; i++) put_byte(produced - distance < capacity ? out[produced - distance] : 0);
        return OK;
    }

    int32_t stored() {
        take(count & 7);
        refill();
        uint32_t len = take(16);
        uint32_t complement = take(16);
        if (overrun()) return BAD_DATA;
        if ((len ^ 0xFFFF) != complement) return BAD_DATA;
        // The whole bytes still buffered go back to the input.
        const uint8_t* at = in - (size_t(count) / 8 - phantom);
        if (len > size_t(end - at)) return STORED_PAST_END;
        size_t fits = produced < capacity ? std::min<size_t>(len, capacity - produced) : 0;
        if (fits) std::memcpy(out + produced, at, fits);
        produced += len;
        in = at + len;
        bits = 0;
        count = 0;
        phantom = 0;
        return OK;
    }

    int32_t codes(const huffman& lit, const huffman& dist) {
        for (;;) {
            refill();
            if (overrun()) return BAD_DATA;
            int sym = decode(lit);
            if (sym < 0) return BAD_DATA;
            if (sym < 256) {
                put_byte(uint8_t(sym));
                continue;
            }
            if (sym == 256) return OK;
            sym -= 257;
            if (sym >= 29) return BAD_DATA;
            size_t length = LENGTH_BASE[sym] + take(LENGTH_EXTRA[sym]);
            int d = decode(dist);
            if (d < 0 || d >= 30) return BAD_DATA;
            size_t distance = DIST_BASE[d] + take(DIST_EXTRA[d]);
            if (overrun()) return BAD_DATA;
            if (int32_t r = copy(length, distance)) return r;
        }
    }

    int32_t dynamic(huffman& lit, huffman& dist) {
        uint32_t hlit = get(5) + 257, hdist = get(5) + 1, hclen = get(4) + 4;
        if (hlit > 286 || hdist > 30) return BAD_DATA;
        uint8_t lengths[320] = {};
        for (uint32_t i = 0; i < hclen; i++) lengths[CODE_LENGTH_ORDER[i]] = uint8_t(get(3));
        huffman& lencode = lit;  // the literal code is built after it is used
        if (!build(lencode, lengths, 19, false) || lencode.symbols == 0) return BAD_DATA;
        std::memset(lengths, 0, sizeof lengths);
        uint32_t i = 0;
        while (i < hlit + hdist) {
            refill();
            if (overrun()) return BAD_DATA;
            int sym = decode(lencode);
            if (sym < 0) return BAD_DATA;
            if (sym < 16) {
                lengths[i++] = uint8_t(sym);
                continue;
            }
            uint8_t value = 0;
            uint32_t repeat;
            if (sym == 16) {
                if (i == 0) return BAD_DATA;
                value = lengths[i - 1];
                repeat = 3 + take(2);
            } else if (sym == 17) {
                repeat = 3 + take(3);
            } else {
                repeat = 11 + take(7);
            }
            if (i + repeat > hlit + hdist) return BAD_DATA;
            while (repeat--) lengths[i++] = value;
        }
        if (overrun()) return BAD_DATA;
        // Without an end-of-block code no block could end.
        if (lengths[256] == 0) return BAD_DATA;
        if (!build(lit, lengths, int(hlit), false)) return BAD_DATA;
        // A block of literals only may leave its distance code incomplete
        // or empty; a distance it then uses that has no code is bad data.
        if (!build(dist, lengths + hlit, int(hdist), true)) return BAD_DATA;
        return codes(lit, dist);
    }

    int32_t run() {
        huffman lit, dist;
        bool fixed_ready = false;
        for (;;) {
            refill();
            if (overrun()) return BAD_DATA;
            uint32_t final = take(1);
            uint32_t type = take(2);
            int32_t r;
            if (type == 0) {
                r = stored();
            } else if (type == 1) {
                if (!fixed_ready) {
                    uint8_t lengths[320];
                    std::memset(lengths, 8, 144);
                    std::memset(lengths + 144, 9, 112);
                    std::memset(lengths + 256, 7, 24);
                    std::memset(lengths + 280, 8, 8);
                    build(lit, lengths, 288, false);
                    std::memset(lengths, 5, 30);
                    build(dist, lengths, 30, true);
                    fixed_ready = true;
                }
                r = codes(lit, dist);
            } else if (type == 2) {
                fixed_ready = false;
                r = dynamic(lit, dist);
            } else {
                return BAD_BLOCK_TYPE;
            }
            if (r) return r;
            if (overrun()) return BAD_DATA;
            if (final) return OK;
        }
    }
};

}  // namespace

int32_t decompress(uint8_t* out, size_t* length, const uint8_t* in, size_t in_length) {
    decoder d{in, in + in_length, 0, 0, 0, out, *length, 0};
    int32_t r = d.run();
    if (r) return r;
    *length = d.produced;
    return d.produced > d.capacity ? TOO_SMALL : OK;
}

}  // namespace kiv::inflate
