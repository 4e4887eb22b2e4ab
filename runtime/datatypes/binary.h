#pragma once
// binary!: a series of bytes. It shares the series machinery of string! (its
// parent), with a buffer whose unit is always 1: the cell is {header,
// head (the index of the current byte), node, 0}. "The bytes of a binary"
// below always means the bytes from its head to the tail.
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv::binary {

inline series_buffer* buffer_of(const kiv_value* bin) { return series::buffer(bin->data2); }

// Bytes from the head to the tail (0 when the head lies past the tail), and
// the address of the byte at the head (the tail then).
uint32_t ks_length_q(const kiv_value* bin);
uint8_t* ks_head(const kiv_value* bin);
// Appends n raw bytes at the tail, growing the buffer.
void ks_append(kiv_value* bin, const uint8_t* bytes, uint32_t n);

// An empty binary with a fresh buffer of `capacity` bytes, in a given cell,
// in a new cell appended to a block, or on the argument stack.
kiv_value* make_at(kiv_value* cell, uint32_t capacity);
kiv_value* make_in(kiv_value* block, uint32_t capacity);
// A new binary holding a copy of `size` bytes, pushed on the argument stack
// or appended to a block (pushed when the block is null).
kiv_value* load(const uint8_t* bytes, uint32_t size);
kiv_value* load_in(const uint8_t* bytes, uint32_t size, kiv_value* block);
kiv_value* push(const kiv_value* bin);  // a copy of the cell

// Stores the low byte of an integer! or char!; any other value raises
// `invalid-arg` with it.
void set_byte(uint8_t* at, const kiv_value* value);

// PARSE support. Whether the byte at the head is in a bitset (bytes beyond
// its bits take its complement flag); whether the bytes at the head begin
// with a value: a binary or any-string (by the byte comparison in prefix
// mode), a char! or an integer! (one byte).
bool byte_in_bitset_q(kiv_value* bin, const kiv_value* bits);
bool match_q(kiv_value* bin, kiv_value* value);

// The byte comparison: -1, 0 or 1 by the operation code, -1 for sameness
// failing (COMP_SAME). The second value may be of the string family, whose
// code units are compared with the bytes. With `prefix`, the second's length
// is all that is compared and an empty second matches.
int32_t compare_bytes(kiv_value* bin, kiv_value* other, int32_t op, bool prefix);

// The to action: the bytes of a value as a new binary (of `type`) on the
// argument stack.
kiv_value* to(kiv_value* proto, kiv_value* spec, uint32_t type);

void init();  // registers binary!

}  // namespace kiv::binary
