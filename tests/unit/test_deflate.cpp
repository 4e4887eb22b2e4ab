// The Deflate routines' result codes: which fault each malformed stream is
// reported as, the sizes asked for when the output does not fit, and the
// gzip size check that comes before any allocation. The hand-made streams
// were checked against Python's zlib, which refuses each of them too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/io/deflate.h"

using namespace kiv;
using namespace kiv::compression;

namespace {

using bytes = std::vector<uint8_t>;
using routine = int32_t (*)(uint8_t*, size_t*, const uint8_t*, size_t);

bytes hex(const std::string& h) {
    bytes out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(uint8_t(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

struct outcome {
    int32_t code;
    size_t length;
    bytes out;
};

outcome run(routine r, const bytes& in, size_t capacity = 1 << 16) {
    bytes out(capacity);
    size_t length = capacity;
    int32_t code = r(out.data(), &length, in.data(), in.size());
    out.resize(std::min(length, capacity));
    return {code, length, out};
}

}  // namespace

TEST(Deflate, MalformedRawStreamsAndTheirCodes) {
    struct {
        const char* stream;
        int32_t code;
        const char* fault;
    } cases[] = {
        {"0105000000616263646500", BAD_DATA, "stored length complement wrong"},
        {"010500FAFF6162", STORED_PAST_END, "stored block past the input"},
        {"07", BAD_BLOCK_TYPE, "block type 3"},
        {"4B044200", TOO_FAR_BACK, "distance past the start of the output"},
        {"4B1C0300", BAD_DATA, "length symbol 286"},
        {"4B043E00", BAD_DATA, "distance symbol 30"},
        {"05E00104000000401000", BAD_DATA, "over-subscribed code-length code"},
        {"05E003040000000000040000", BAD_DATA, "repeat of nothing"},
        {"05E081040000000000FCFF07000000", BAD_DATA, "repeat past the lengths"},
        {"F5E0010000000000000000000000000000000000000000", BAD_DATA, "287 literal lengths"},
        {"", BAD_DATA, "no block at all"},
        {"000000FFFF", BAD_DATA, "no final block"},
        {"CB48CDC9C957C84090", BAD_DATA, "cut inside the final block"},
        {"0105", BAD_DATA, "cut inside a stored header"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(inflate::decompress, hex(c.stream)).code, c.code) << c.fault;
}

TEST(Deflate, OutputPastTheCapacityIsCountedAndAskedFor) {
    bytes data(100000);
    for (size_t i = 0; i < data.size(); i++) data[i] = uint8_t(i * i >> 7);
    for (routine r : {deflate::compress, zlib::compress, gzip::compress}) {
        outcome whole = run(r, data, 200000);
        ASSERT_EQ(whole.code, OK);
        outcome part = run(r, data, 100);
        EXPECT_EQ(part.code, TOO_SMALL);
        EXPECT_EQ(part.length, whole.length);
    }
    outcome packed = run(zlib::compress, data, 200000);
    outcome small = run(zlib::decompress, packed.out, 1000);
    EXPECT_EQ(small.code, TOO_SMALL);
    EXPECT_EQ(small.length, data.size());
    outcome back = run(zlib::decompress, packed.out, data.size());
    EXPECT_EQ(back.code, OK);
    EXPECT_EQ(back.out, data);
    // Framing that cannot fit at all.
    EXPECT_EQ(run(zlib::compress, data, 5).code, BAD_DATA);
    EXPECT_EQ(run(gzip::compress, data, 17).code, BAD_DATA);
}

TEST(Deflate, GzipSizeIsCheckedBeforeInflating) {
    // ISIZE 4 GiB - 1 behind a two-byte stream: refused, no size asked for.
    outcome huge = run(gzip::decompress, hex("1F8B080000000000000403000000000000FFFFFFFF"), 0);
    EXPECT_EQ(huge.code, BAD_DATA);
    // A plausible size that does not fit is asked for before inflating.
    bytes g = hex("1F8B0800000000000203CB48CDC9C9070086A6103605000000");
    outcome ask = run(gzip::decompress, g, 2);
    EXPECT_EQ(ask.code, TOO_SMALL);
    EXPECT_EQ(ask.length, 5u);
    EXPECT_EQ(run(gzip::decompress, g, 5).code, OK);
    // The empty member: header and zero trailer, nothing between.
    outcome empty = run(gzip::decompress, hex("1F8B08000000000000040000000000000000"));
    EXPECT_EQ(empty.code, OK);
    EXPECT_EQ(empty.length, 0u);
}
