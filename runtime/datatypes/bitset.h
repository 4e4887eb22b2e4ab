#pragma once
// bitset!: a set of non-negative integers (usually code points) kept as a
// byte series that grows on demand. Bit n is 0x80 >> (n mod 8) of byte n / 8.
// The stored bits always hold true membership; the series' per-datatype
// flag (complement) says what lies beyond them: nothing, or every number.
// The cell is {header, 0, node, 0}: a bitset always starts at its first byte.
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv::bitset {

// What `process` does with each bit a spec names.
enum bit_op : int32_t {
    BIT_MEASURE = 0,  // gives the highest bit named, -1 for none
    BIT_SET = 1,
    BIT_TEST = 2,     // gives 1 when every bit named is present, else 0
    BIT_CLEAR = 3,
};

// Who asks for a spec to be processed, which picks the error a value of the
// wrong type raises: `bad-make-arg`, `bad-to-arg` or `invalid-arg`.
enum spec_mode : int32_t { MODE_MAKE = 0, MODE_TO = 1, MODE_USE = 2 };

inline series_buffer* buffer_of(const kiv_value* bits) { return series::buffer(bits->data2); }
inline bool complemented_q(const kiv_value* bits) { return buffer_of(bits)->flags & SERIES_TYPE_FLAG; }
inline uint8_t* ks_head(const kiv_value* bits) { return buffer_of(bits)->offset; }
inline uint8_t* ks_tail(const kiv_value* bits) { return buffer_of(bits)->tail; }
inline uint32_t byte_count(const kiv_value* bits) { return series::used_units(buffer_of(bits)); }

// A new bitset of `bytes` zero bytes, not complemented.
kiv_value* make_at(kiv_value* cell, uint32_t bytes);
kiv_value* push(uint32_t bytes);
kiv_value* make_in(kiv_value* block, uint32_t bytes);

// Lengthens the series to hold bit n (n / 8 + 1 bytes) with bytes that keep
// the membership beyond (0x00, or 0xFF when complemented); returns the first
// byte.
uint8_t* grow(kiv_value* bits, uint32_t n);
// True when n is negative or bit n lies beyond the stored bytes.
bool out_of_range_q(const kiv_value* bits, int64_t n);
// Membership of one number, whether or not it is stored.
bool member_q(const kiv_value* bits, int64_t n);

// Sets, tests or clears the bits low .. high.
bool process_range(kiv_value* bits, int32_t low, int32_t high, int32_t op);
// The same for every character from the string's cursor; `bits` may be null
// when measuring.
int32_t process_string(kiv_value* str, kiv_value* bits, int32_t op);
// Applies an op to the bits a spec names: a char!, integer! or float! (one
// bit), any string type (its characters), or a block! of those and of
// ranges `low - high`. `bits` may be null when measuring.
int32_t process(kiv_value* spec, kiv_value* bits, int32_t op, int32_t mode);

// A new bitset on the argument stack, made from a spec as make (MODE_MAKE)
// or to (MODE_TO) builds it.
kiv_value* make_from(kiv_value* spec, int32_t mode);

// The bitwise actions and set operations (or~, and~, xor~ and unique, union,
// intersect, exclude, difference by their operation codes) on the current
// call's first two arguments; the result replaces the first.
void do_bitwise(int32_t op);

// Inverts every stored byte of a buffer.
void invert_bytes(series_buffer* buffer);
// Appends each byte as two upper-case hexadecimal digits (inverted first
// when asked); with `part`, stops once the budget is used up. Returns the
// budget less the characters written.
int32_t form_bytes(const kiv_value* bits, kiv_value* output, bool part, int32_t budget, bool invert);

void init();

}  // namespace kiv::bitset
