// The base-2, 16, 58 and 64 decoders on arbitrary text, and each base's
// round trip: what an encoder writes, its decoder must give back exactly.
//
// The first byte picks the base and the text's unit size; the rest is the
// text to decode, and also the bytes to encode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/datatypes/base_codecs.h"
#include "runtime/datatypes/series.h"
#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

namespace {

struct base {
    char* (*encode)(char*, const uint8_t*, uint32_t);
    node_id (*decode)(const uint8_t*, uint32_t, uint32_t);
    size_t (*room)(size_t);
};

const base BASES[] = {
    {base_codecs::encode_2, base_codecs::decode_2, [](size_t n) { return 8 * n; }},
    {base_codecs::encode_16, base_codecs::decode_16, [](size_t n) { return 2 * n; }},
    {base_codecs::encode_58, base_codecs::decode_58, [](size_t n) { return 2 * n + 1; }},
    {base_codecs::encode_64, base_codecs::decode_64, [](size_t n) { return 4 * ((n + 2) / 3); }},
};

// The bytes of a decoded binary, copied out before anything else allocates.
std::vector<uint8_t> bytes_of(node_id node) {
    series_buffer* b = series::buffer(node);
    return std::vector<uint8_t>(b->offset, b->tail);
}

void round_trip(const base& b, const uint8_t* data, size_t size) {
    std::vector<char> text(b.room(size) + 1);
    char* end = b.encode(text.data(), data, uint32_t(size));
    if (size_t(end - text.data()) > b.room(size)) std::abort();
    node_id back = b.decode(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(end - text.data()), 1);
    if (!back || bytes_of(back) != std::vector<uint8_t>(data, data + size)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    const base& b = BASES[data[0] & 3];
    uint32_t unit = 1u << ((data[0] >> 2) % 3);
    const uint8_t* text = data + 1;
    size_t count = (size - 1) / unit;
    node_id decoded = b.decode(text, uint32_t(count), unit);
    if (decoded) {
        std::vector<uint8_t> bytes = bytes_of(decoded);
        round_trip(b, bytes.data(), bytes.size());
    }
    round_trip(b, text, size - 1);
    return 0;
}
