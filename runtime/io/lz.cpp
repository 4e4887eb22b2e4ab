// Chunked LZ: a greedy compressor over hash chains and the checking
// decompressor.
#include "runtime/io/lz.h"

#include <algorithm>
#include <cstring>

namespace kiv::lz {

namespace {

uint32_t get_u32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}

// Length codes: the prefix (a run of zeros ended by a one, or five zeros),
// the width of the extra field and the first length it stands for.
struct length_code {
    uint32_t zeros, extra, base;
};
constexpr length_code LENGTH_CODES[] = {
    {0, 2, 0}, {1, 2, 4}, {2, 2, 8}, {3, 3, 12}, {4, 5, 20}, {5, 9, 52},
};
constexpr uint32_t LAST_LENGTH_CODE = 5;

// ---------------------------------------------------------------------------------
// Compressor
// ---------------------------------------------------------------------------------

class bit_writer {
  public:
    explicit bit_writer(std::vector<uint8_t>& out) : out_(out) {}
    void put(uint32_t value, uint32_t bits) {
        buffer_ |= uint64_t(value) << count_;
        count_ += bits;
        while (count_ >= 8) {
            out_.push_back(uint8_t(buffer_));
            buffer_ >>= 8;
            count_ -= 8;
        }
    }
    // A chunk ends on a byte boundary.
    void flush() {
        if (count_) out_.push_back(uint8_t(buffer_));
        buffer_ = 0;
        count_ = 0;
    }

  private:
    std::vector<uint8_t>& out_;
    uint64_t buffer_ = 0;
    uint32_t count_ = 0;
};

void put_copy(bit_writer& bits, uint32_t length, uint32_t distance) {
    bits.put(1, 1);
    uint32_t l = length - MIN_COPY;
    uint32_t c = 0;
    while (c < LAST_LENGTH_CODE && l >= LENGTH_CODES[c + 1].base) c++;
    const length_code& code = LENGTH_CODES[c];
    if (c < LAST_LENGTH_CODE) bits.put(1u << code.zeros, code.zeros + 1);
    else bits.put(0, code.zeros);
    bits.put(l - code.base, code.extra);
    uint32_t d = distance - 1;
    if (d < 8) {
        bits.put(0, 4);
        bits.put(d, 3);
    } else {
        uint32_t b = 31 - uint32_t(__builtin_clz(d));  // 3 to 17
        bits.put(b - 2, 4);
        bits.put(d - (1u << b), b);
    }
}

constexpr uint32_t HASH_BITS = 15;
constexpr uint32_t MAX_CHAIN = 32;  // candidates tried per position
constexpr uint32_t NO_POSITION = UINT32_MAX;

uint32_t hash3(const uint8_t* p) { return ((p[0] << 16 | p[1] << 8 | p[2]) * 2654435761u) >> (32 - HASH_BITS); }

void compress_chunk(std::vector<uint8_t>& out, const uint8_t* in, uint32_t length) {
    put_u32(out, length);
    bit_writer bits(out);
    std::vector<uint32_t> head(1u << HASH_BITS, NO_POSITION);
    std::vector<uint32_t> previous(length);
    auto insert = [&](uint32_t at) {
        if (at + MIN_COPY > length) return;
        uint32_t h = hash3(in + at);
        previous[at] = head[h];
        head[h] = at;
    };
    uint32_t at = 0;
    while (at < length) {
        uint32_t best = 0, best_distance = 0;
        if (at + MIN_COPY <= length) {
            uint32_t limit = std::min(MAX_COPY, length - at);
            uint32_t candidate = head[hash3(in + at)];
            for (uint32_t tries = 0; candidate != NO_POSITION && tries < MAX_CHAIN; tries++) {
                if (at - candidate > MAX_DISTANCE) break;
                uint32_t n = 0;
                while (n < limit && in[candidate + n] == in[at + n]) n++;
                if (n > best) {
                    best = n;
                    best_distance = at - candidate;
                    if (n == limit) break;
                }
                candidate = previous[candidate];
            }
        }
        if (best >= MIN_COPY) {
            put_copy(bits, best, best_distance);
            for (uint32_t i = 0; i < best; i++) insert(at + i);
            at += best;
        } else {
            bits.put(0, 1);
            bits.put(in[at], 8);
            insert(at);
            at++;
        }
    }
    bits.flush();
}

// ---------------------------------------------------------------------------------
// Decompressor
// ---------------------------------------------------------------------------------

// Reads whole bytes as the bits are asked for; a read past the stream's end
// fails the stream.
class bit_reader {
  public:
    bit_reader(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}
    bool get(uint32_t bits, uint32_t& value) {
        while (count_ < bits) {
            if (p_ == end_) return false;
            buffer_ |= uint64_t(*p_++) << count_;
            count_ += 8;
        }
        value = uint32_t(buffer_ & ((uint64_t(1) << bits) - 1));
        buffer_ >>= bits;
        count_ -= bits;
        return true;
    }
    // The next chunk starts at the first byte its bits did not touch.
    const uint8_t* byte_position() const { return p_; }
    void restart(const uint8_t* p) {
        p_ = p;
        buffer_ = 0;
        count_ = 0;
    }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t buffer_ = 0;
    uint32_t count_ = 0;
};

bool read_length(bit_reader& bits, uint32_t& length) {
    uint32_t c = 0, bit = 0;
    while (c < LAST_LENGTH_CODE) {
        if (!bits.get(1, bit)) return false;
        if (bit) break;
        c++;
    }
    uint32_t extra;
    if (!bits.get(LENGTH_CODES[c].extra, extra)) return false;
    length = LENGTH_CODES[c].base + extra + MIN_COPY;
    return true;
}

bool read_distance(bit_reader& bits, uint32_t& distance) {
    uint32_t k, x;
    if (!bits.get(4, k)) return false;
    if (k == 0) {
        if (!bits.get(3, x)) return false;
        distance = x + 1;
    } else {
        uint32_t b = k + 2;
        if (!bits.get(b, x)) return false;
        distance = (1u << b) + x + 1;
    }
    return true;
}

bool decompress_chunk(bit_reader& bits, uint8_t* chunk, uint32_t length) {
    uint32_t at = 0, v;
    while (at < length) {
        if (!bits.get(1, v)) return false;
        if (v == 0) {
            if (!bits.get(8, v)) return false;
            chunk[at++] = uint8_t(v);
            continue;
        }
        uint32_t n, distance;
        if (!read_length(bits, n) || !read_distance(bits, distance)) return false;
        if (distance > at || n > length - at) return false;
        // One byte at a time: an overlapping copy repeats its pattern.
        uint8_t* to = chunk + at;
        for (uint32_t i = 0; i < n; i++) to[i] = to[ptrdiff_t(i) - ptrdiff_t(distance)];
        at += n;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> compress(const uint8_t* in, size_t length) {
    std::vector<uint8_t> out(HEAD_SIZE);
    for (size_t at = 0; at < length; at += MAX_CHUNK)
        compress_chunk(out, in + at, uint32_t(std::min<size_t>(MAX_CHUNK, length - at)));
    uint32_t packed = uint32_t(out.size() - HEAD_SIZE), unpacked = uint32_t(length);
    for (int i = 0; i < 4; i++) {
        out[i] = uint8_t(packed >> (8 * i));
        out[4 + i] = uint8_t(unpacked >> (8 * i));
    }
    return out;
}

std::optional<std::vector<uint8_t>> decompress(const uint8_t* in, size_t length) {
    if (length < HEAD_SIZE) return std::nullopt;
    uint64_t packed = get_u32(in), unpacked = get_u32(in + 4);
    // Both sizes are checked before anything is allocated.
    if (packed > length - HEAD_SIZE || unpacked > MAX_RATIO * packed + 8) return std::nullopt;
    const uint8_t* start = in + HEAD_SIZE;
    const uint8_t* end = start + packed;
    std::vector<uint8_t> out(unpacked);
    size_t used = 0;
    bit_reader bits(start, end);
    const uint8_t* p = start;
    while (p < end) {
        if (end - p < 4) return std::nullopt;
        uint32_t chunk = get_u32(p);
        if (chunk < 1 || chunk > MAX_CHUNK || chunk > unpacked - used) return std::nullopt;
        bits.restart(p + 4);
        if (!decompress_chunk(bits, out.data() + used, chunk)) return std::nullopt;
        used += chunk;
        p = bits.byte_position();
    }
    if (used != unpacked) return std::nullopt;
    return out;
}

}  // namespace kiv::lz
