// Chunked LZ: hand-made streams for each way a stream can be corrupt, the
// longest copy, and round trips across chunk boundaries.
#include <gtest/gtest.h>

#include <random>

#include "runtime/io/lz.h"

using namespace kiv;

namespace {

using bytes = std::vector<uint8_t>;

// Writes fields least significant bit first, as the format reads them.
struct bits {
    bytes out;
    uint32_t count = 0;
    bits& put(uint32_t value, uint32_t n) {
        for (uint32_t i = 0; i < n; i++, count++) {
            if (count % 8 == 0) out.push_back(0);
            if (value >> i & 1) out.back() |= uint8_t(1u << (count % 8));
        }
        return *this;
    }
    bits& literal(uint8_t b) { return put(0, 1).put(b, 8); }
};

void u32(bytes& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
}

// A stream of one chunk of the given length and bit stream.
bytes stream(uint32_t chunk_length, const bytes& chunk_bits, uint32_t unpacked) {
    bytes body;
    u32(body, chunk_length);
    body.insert(body.end(), chunk_bits.begin(), chunk_bits.end());
    bytes s;
    u32(s, uint32_t(body.size()));
    u32(s, unpacked);
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

std::optional<bytes> unpack(const bytes& s) { return lz::decompress(s.data(), s.size()); }

}  // namespace

TEST(Lz, LongestCopyRepeatsOneLiteral) {
    // A literal, then a copy of 3 + 563 bytes at distance 1: length prefix
    // 00000 with 9 extra bits 511, distance code 0 with 3 bits 0.
    bits b;
    b.literal('z').put(1, 1).put(0, 5).put(511, 9).put(0, 4).put(0, 3);
    auto out = unpack(stream(567, b.out, 567));
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, bytes(567, 'z'));
}

TEST(Lz, LongDistanceCode) {
    // 9 literals, then a copy of 3 from distance 9 (d = 8: k = 1, b = 3, x = 0).
    bits b;
    for (uint8_t c = 'a'; c < 'a' + 9; c++) b.literal(c);
    b.put(1, 1).put(1, 1).put(0, 2).put(1, 4).put(0, 3);
    auto out = unpack(stream(12, b.out, 12));
    ASSERT_TRUE(out);
    EXPECT_EQ(std::string(out->begin(), out->end()), "abcdefghiabc");
}

TEST(Lz, CorruptStreamsGiveNothing) {
    bits one;
    one.literal('a');
    bits copy_first;  // a copy with nothing before it
    copy_first.put(1, 1).put(1, 1).put(0, 2).put(0, 4).put(0, 3);
    bits copy_past;  // a literal, then a copy of 3 into a chunk of 2
    copy_past.literal('a').put(1, 1).put(1, 1).put(0, 2).put(0, 4).put(0, 3);
    bytes past_input = stream(1, one.out, 1);
    past_input[0] += 1;  // packed size beyond the input
    bytes too_big = stream(1, one.out, 1);
    too_big[4] = 0xFF;  // unpacked size beyond what the packed bytes can hold
    struct {
        const char* what;
        bytes data;
    } cases[] = {
        {"chunk length 0", stream(0, one.out, 1)},
        {"chunk length above 1 MiB", stream(lz::MAX_CHUNK + 1, one.out, 1)},
        {"copy at the chunk's start", stream(3, copy_first.out, 3)},
        {"copy past the chunk's end", stream(2, copy_past.out, 2)},
        {"bits past the stream", stream(2, one.out, 2)},
        {"output short of the size", stream(1, one.out, 2)},
        {"chunks beyond the size", stream(1, one.out, 0)},
        {"packed size beyond the input", past_input},
        {"unpacked size beyond the ratio", too_big},
        {"head cut short", bytes{1, 0, 0}},
        {"chunk header cut short", bytes{2, 0, 0, 0, 1, 0, 0, 0, 1, 0}},
    };
    for (auto& c : cases) EXPECT_FALSE(unpack(c.data)) << c.what;
    EXPECT_TRUE(unpack(stream(1, one.out, 1)));
}

TEST(Lz, EmptyStream) {
    bytes packed = lz::compress(nullptr, 0);
    EXPECT_EQ(packed, bytes(8, 0));
    auto out = unpack(packed);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->empty());
}

TEST(Lz, RoundTripsAcrossChunks) {
    std::mt19937 rng(5);
    // Random bytes, text-like runs, one repeated byte, and sizes around the
    // chunk boundary.
    std::vector<bytes> inputs;
    bytes noise(70000);
    for (auto& b : noise) b = uint8_t(rng());
    inputs.push_back(noise);
    bytes text;
    while (text.size() < lz::MAX_CHUNK * 2 + 123) {
        std::string word = "w" + std::to_string(rng() % 5000) + (rng() % 7 ? " " : "\n");
        text.insert(text.end(), word.begin(), word.end());
    }
    inputs.push_back(text);
    inputs.push_back(bytes(lz::MAX_CHUNK, 7));
    inputs.push_back(bytes(lz::MAX_CHUNK + 1, 7));
    inputs.push_back(bytes{1, 2, 3});
    for (const bytes& in : inputs) {
        bytes packed = lz::compress(in.data(), in.size());
        auto out = unpack(packed);
        ASSERT_TRUE(out) << in.size();
        EXPECT_TRUE(*out == in) << in.size();
    }
    bytes packed = lz::compress(text.data(), text.size());
    EXPECT_LT(packed.size(), text.size() / 2);
}
