#pragma once
// Base-2, base-16, base-58 and base-64 text of bytes.
//
// The encoders write one unbroken line (no prefix, no line breaks) into a
// buffer the caller sized: 8 characters per byte (base 2), 2 per byte
// (base 16), 2 x count + 1 (base 58), 4 per started group of 3 bytes
// (base 64). Each returns the position just past the last character.
//
// The decoders read the characters of a text in its own unit size (1, 2 or
// 4 bytes), skip blanks and ";" comments (to the next line feed), and return
// the node of a new binary series, or 0 when the text is not valid in that
// base: they never raise an error themselves.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::base_codecs {

char* encode_2(char* out, const uint8_t* in, uint32_t count);
char* encode_16(char* out, const uint8_t* in, uint32_t count);
char* encode_58(char* out, const uint8_t* in, uint32_t count);
char* encode_64(char* out, const uint8_t* in, uint32_t count);

node_id decode_2(const uint8_t* text, uint32_t count, uint32_t unit);
node_id decode_16(const uint8_t* text, uint32_t count, uint32_t unit);
node_id decode_58(const uint8_t* text, uint32_t count, uint32_t unit);
node_id decode_64(const uint8_t* text, uint32_t count, uint32_t unit);

}  // namespace kiv::base_codecs
