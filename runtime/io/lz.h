#pragma once
// The runtime's own chunked LZ format, which a KIVBIN header may announce
// for its body. A stream is an 8-byte head (packed size, unpacked size, both
// u32 little-endian) and chunks of at most 1 MiB, each a u32 length and a
// bit stream (least significant bit first) of literals and copies that never
// reach before the chunk's own start.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kiv::lz {

constexpr size_t HEAD_SIZE = 8;
constexpr uint32_t MAX_CHUNK = 1u << 20;
constexpr uint32_t MIN_COPY = 3;
constexpr uint32_t MAX_COPY = 566;
constexpr uint32_t MAX_DISTANCE = 1u << 18;
// The most output one packed byte can stand for: the longest copy costs 22
// bits.
constexpr uint64_t MAX_RATIO = 206;

// The whole stream of the input, head included.
std::vector<uint8_t> compress(const uint8_t* in, size_t length);

// The bytes a stream stands for, or nothing when it is corrupt: a head that
// claims more than the input holds or more than it could unpack to, a chunk
// length out of range, a copy from before its chunk or past its end, bits
// past the stream, or output that is not exactly the size the head gives.
std::optional<std::vector<uint8_t>> decompress(const uint8_t* in, size_t length);

}  // namespace kiv::lz
