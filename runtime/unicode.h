#pragma once
// Unicode conversion: text inside the runtime lives in buffers of 1-, 2- or
// 4-byte code units (Latin-1, UCS-2, UCS-4); text outside it (files, the
// console, the operating system) is UTF-8 or UTF-16. Every conversion
// between the two worlds lives here.
#include <cstdint>

namespace kiv::unicode {

constexpr uint32_t MAX_CODEPOINT = 0x10FFFF;

// Writes the UTF-8 sequence of a code point (1 to 4 bytes) and returns its
// length. Raises `invalid-char` above MAX_CODEPOINT.
uint32_t encode_utf8_char(uint32_t cp, uint8_t* out);

}  // namespace kiv::unicode
