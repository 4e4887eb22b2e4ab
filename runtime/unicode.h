#pragma once
// Unicode conversion and string units.
//
// Text inside the runtime lives in string buffers of 1-, 2- or 4-byte code
// units (Latin-1, UCS-2, UCS-4, little-endian); text outside it is UTF-8 or
// UTF-16. This module converts between the two and owns the rule by which a
// buffer widens its unit: a buffer never holds a code point its unit cannot
// represent, and widths only grow.
//
// Positions are byte addresses; counts are characters unless said otherwise.
// A code point above 0x10FFFF raises `script` `invalid-char` wherever a
// routine below speaks of a range error.
#include <array>
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv::unicode {

constexpr uint32_t MAX_CODEPOINT = 0x10FFFF;

// The table of the fast decoder: 256 byte classes, then one row of 12
// transitions (by class) for each of the nine states 0, 12, ... 96; state 0
// accepts, state 12 rejects.
extern const std::array<uint8_t, 364> utf8d;

// Decodes one UTF-8 sequence at p into *cp (-1 when invalid) and returns the
// position after it. It takes no end: callers bound their loops, and the
// bytes after a cut sequence are read (series buffers are padded).
const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t* cp);
// Characters between two positions, by the fast decoder.
uint32_t count_chars(const uint8_t* start, const uint8_t* end);
// The position n characters further, stopping early at end.
const uint8_t* skip_chars(const uint8_t* p, const uint8_t* end, uint32_t n);
// 4, 3 or 2 by the top bits of a lead byte; 0 for ASCII and continuation bytes.
uint32_t utf8_length(uint8_t lead);
// Bytes of the UTF-8 form of a code point (range error above 0x10FFFF).
uint32_t codepoint_size(uint32_t cp);
// UTF-8 bytes needed for the units of a buffer between two positions.
uint32_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit);

// Writes the UTF-8 form of a code point (1-4 bytes) and returns the count.
uint32_t encode_utf8_char(uint32_t cp, uint8_t* out);
// The same, but byte k of the sequence is written only when room >= k: a
// sequence that does not fit is cut. Returns the bytes written.
uint32_t encode_utf8_char_bounded(uint32_t cp, uint8_t* out, uint32_t room);

// The validating decoder. *available holds the bytes that may be read; on
// success it becomes the sequence's length. Returns the code point, or -1
// when the bytes present are a valid start of a sequence that needs more.
// Overlong forms, surrogate code points, values above 0x10FFFF and U+FFFE
// (kept as an in-band marker of bad input) raise `access` `invalid-utf8`.
int32_t decode_utf8_strict(const uint8_t* p, uint32_t* available);

// Loads UTF-8 bytes into a string series, starting at width 1 and widening
// in place when a wider code point arrives; the target's old content is
// replaced (target 0 makes a new series). A leading byte-order mark is
// skipped. With `remainder`, a sequence cut at the end of the input stops
// the load and the unconsumed byte count is stored there for the next chunk;
// without it a cut sequence is invalid input. With `cr`, CR LF and a lone CR
// become LF. Returns the series node.
node_id load_utf8(const uint8_t* src, uint32_t size, node_id target, uint32_t* remainder, bool cr);
// Loads into the buffer of a string cell.
node_id load_utf8_at(const uint8_t* src, uint32_t size, kiv_value* str, uint32_t* remainder);
// A new string series.
node_id load_utf8_buffer(const uint8_t* src, uint32_t size);

// Widen a buffer in place from 1 to 2, 1 to 4 and 2 to 4 bytes per unit,
// expanding it first when the wider text and one more unit do not fit; the
// buffer returned is the one to go on with.
series_buffer* to_ucs2(series_buffer* buffer);
series_buffer* to_ucs4(series_buffer* buffer);
series_buffer* ucs2_to_ucs4(series_buffer* buffer);
// Zero-extends count units of width `from` at src into units of width `to`
// at dst, last to first, so that dst may start at src in the same memory.
void widen_units(const uint8_t* src, uint32_t from, uint8_t* dst, uint32_t to, uint32_t count);

// The unit width that holds UTF-16LE text: 4 when any surrogate occurs, 2
// when any unit is above 0xFF, else 1.
uint32_t utf16_unit_width(const uint8_t* data, uint32_t count);
// Loads count UTF-16LE units into a string series: the target cell's buffer
// (content replaced) or a new one. A null source means the target cell's
// scratch buffer. The buffer is flagged SERIES_UTF16. An unpaired surrogate
// raises `script` `invalid-data` with the unit. With `cr`, CR LF and a lone
// CR become LF.
node_id load_utf16le(const uint8_t* src, uint32_t count, kiv_value* target, bool cr);

// Exports to UTF-8 in the cell's scratch buffer: at most *count characters
// from the cursor (-1 for all); *count becomes the bytes written, the text
// is NUL-terminated and stays valid until the next export from the cell.
// With `crlf` each LF is written as CR LF.
const char* to_utf8_cached(kiv_value* str, int32_t* count, bool crlf);
inline const char* to_utf8(kiv_value* str, int32_t* count) { return to_utf8_cached(str, count, false); }
inline const char* to_utf8_with_crlf(kiv_value* str, int32_t* count, bool crlf) {
    return to_utf8_cached(str, count, crlf);
}
// Into a caller's buffer: count -1 or not below the length means all.
uint32_t to_utf8_into(kiv_value* str, uint8_t* target, int32_t count, bool nul);
// Into a caller's buffer of `room` bytes (the NUL, when asked, goes after
// them): a count limits the characters when above 0 and below the length.
// Only whole sequences are written, so the text never ends in a cut one.
uint32_t to_utf8_bounded(kiv_value* str, uint8_t* target, uint32_t room, int32_t count, bool nul);

// Each byte becomes one UTF-16 unit, then a zero unit. Returns target.
uint16_t* cstr_to_utf16(const char* text, uint16_t* target);

}  // namespace kiv::unicode

namespace kiv::string {

// The data area of the cell's scratch byte series (its fourth word), sized
// to at least n bytes: exports write there and reuse it call after call.
uint8_t* ensure_buffer(kiv_value* str, uint32_t n);

// Exports to NUL-terminated UTF-16LE in the cell's scratch buffer: at most
// *count characters from the cursor (-1 for all); *count becomes the units
// written. With `crlf` a CR is written before each LF. Null when a code
// point above 0x10FFFF is met.
const uint16_t* to_utf16_part(kiv_value* str, int32_t* count, bool crlf);
// The whole text from the cursor; line feeds stay LF, the Linux convention.
const uint16_t* to_utf16(kiv_value* str);

}  // namespace kiv::string
