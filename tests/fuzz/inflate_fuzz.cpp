// libFuzzer target for the Deflate decoder and its zlib and gzip framings:
// the first byte picks the framing and the output capacity, the rest is the
// stream. Every result code is fine; a crash, a sanitizer report, a read
// outside the input or a write outside the output is not. The seed corpus
// (corpus/inflate/) holds valid streams of each framing, so that mutations
// reach deep into dynamic blocks. Each input is also compressed and
// decompressed again, which must give it back.
//
// Built with the other targets (tests/fuzz/CMakeLists.txt).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/io/deflate.h"

using namespace kiv;

namespace {

using routine = int32_t (*)(uint8_t*, size_t*, const uint8_t*, size_t);

// More output than this is not asked for: a stream may stand for 1032 times
// its length, and the fuzzer's memory is limited.
constexpr size_t MAX_OUTPUT = 64u << 20;

void round_trip(const uint8_t* data, size_t size) {
    const routine pack[] = {deflate::compress, zlib::compress, gzip::compress};
    const routine unpack[] = {inflate::decompress, zlib::decompress, gzip::decompress};
    for (int m = 0; m < 3; m++) {
        std::vector<uint8_t> packed(size + size / 8 + 32);
        size_t length = packed.size();
        if (pack[m](packed.data(), &length, data, size) != compression::OK) std::abort();
        std::vector<uint8_t> back(size);
        size_t out = size;
        if (unpack[m](back.data(), &out, packed.data(), length) != compression::OK || out != size ||
            (size && std::memcmp(back.data(), data, size) != 0))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const routine unpack[] = {inflate::decompress, zlib::decompress, gzip::decompress};
    routine r = unpack[data[0] % 3];
    // A small capacity exercises the counting past it; 0 a null-sized one.
    size_t capacity = data[0] / 3 % 4 == 0 ? 0 : size_t(data[0] / 3) * 16;
    std::vector<uint8_t> out(capacity);
    size_t length = capacity;
    int32_t code = r(out.data(), &length, data + 1, size - 1);
    if (code == compression::TOO_SMALL && length <= MAX_OUTPUT) {
        // The second call, as the natives make it, with the size asked for.
        // A bare stream has been read whole by then, so it must now fit;
        // a framing's checks may still refuse it.
        std::vector<uint8_t> room(length);
        size_t again = length;
        code = r(room.data(), &again, data + 1, size - 1);
        if (r == inflate::decompress && (code != compression::OK || again != length)) std::abort();
    }
    round_trip(data + 1, size - 1);
    return 0;
}
