#pragma once
// Deflate streams, bare or framed as zlib or gzip: the compressor (one final
// block with the fixed codes, greedy matches through a small hash of 3-byte
// prefixes) and the decompressor (every block type).
//
// Every routine takes the output address, the output capacity (replaced by
// the size produced, or needed when it does not fit), the input and its
// length, and returns a result code. Output past the capacity is counted,
// never stored, so a caller that gets TOO_SMALL can allocate the size
// reported and call again.
#include <cstddef>
#include <cstdint>

namespace kiv::compression {

enum result : int32_t {
    OK = 0,
    TOO_SMALL = 1,        // *length holds the size needed
    BAD_DATA = 2,         // header, checksum, size, code set, or a stream cut short
    STORED_PAST_END = 3,  // a stored block longer than the input left
    BAD_BLOCK_TYPE = 4,   // block type 3
    TOO_FAR_BACK = 5,     // a distance beyond the output produced so far
};

// The most bytes one input byte of a Deflate stream can stand for: a
// 258-byte copy costs at least two bits in a dynamic block.
constexpr uint64_t MAX_RATIO = 1032;

// Makes the method words zlib, deflate and gzip. Start-up, once.
void init_words();
enum method : int32_t { ZLIB = 0, DEFLATE = 1, GZIP = 2 };
// The method a word's symbol names (any case), or -1.
int32_t method_of(int32_t symbol);

}  // namespace kiv::compression

namespace kiv::deflate {
int32_t compress(uint8_t* out, size_t* length, const uint8_t* in, size_t in_length);
}

namespace kiv::inflate {
int32_t decompress(uint8_t* out, size_t* length, const uint8_t* in, size_t in_length);
}

namespace kiv::zlib {
int32_t compress(uint8_t* out, size_t* length, const uint8_t* in, size_t in_length);
int32_t decompress(uint8_t* out, size_t* length, const uint8_t* in, size_t in_length);
}  // namespace kiv::zlib

namespace kiv::gzip {
int32_t compress(uint8_t* out, size_t* length, const uint8_t* in, size_t in_length);
int32_t decompress(uint8_t* out, size_t* length, const uint8_t* in, size_t in_length);
}  // namespace kiv::gzip
