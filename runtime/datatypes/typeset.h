#pragma once
// typeset!: a set of datatypes held in the cell itself. The three payload
// words hold 96 membership bits, read as 12 bytes in memory order: datatype
// t is bit 0x80 >> (t % 8) of byte t / 8. Bit 0 and the bits past the
// highest registered id exist but name no type. Header bits above the type
// id are free for callers (argument lists keep the argument kind there).
#include <cstdint>

#include "runtime/value.h"

namespace kiv::typeset {

constexpr uint32_t BITS = 96;

inline uint8_t* bits_of(kiv_value* ts) { return reinterpret_cast<uint8_t*>(&ts->data1); }
inline const uint8_t* bits_of(const kiv_value* ts) { return reinterpret_cast<const uint8_t*>(&ts->data1); }
inline bool has_q(const kiv_value* ts, uint32_t type) {
    return type < BITS && (bits_of(ts)[type >> 3] & (0x80 >> (type & 7))) != 0;
}
inline void set_bit(kiv_value* ts, uint32_t type) {
    if (type < BITS) bits_of(ts)[type >> 3] |= uint8_t(0x80 >> (type & 7));
}

// Constructors: each appends a new typeset to the block and returns its cell.
kiv_value* make_in(kiv_value* blk, uint32_t word1, uint32_t word2, uint32_t word3);
// Every bit but unset!'s: the types of a spec argument without a type block.
kiv_value* make_default_in(kiv_value* blk);
// The types of a function spec's type block: datatypes, typesets, words
// holding them, words holding a word (object!); nested blocks are skipped and
// anything else raises `invalid-type-spec`.
kiv_value* make_from_block(kiv_value* blk, const kiv_value* types);
kiv_value* push(const kiv_value* ts);

// Adds a datatype, the members of a typeset, or those of a word's value;
// anything else raises `invalid-arg` with the value given.
void set_type(kiv_value* ts, const kiv_value* value);
// Member types among the registered ids.
uint32_t count(const kiv_value* ts);
// Makes `result` a new block of the members' datatype words, in id order.
kiv_value* to_block(const kiv_value* ts, kiv_value* result);

// The set operations on the current call's first two arguments (a typeset,
// then a typeset or a datatype); the result replaces the first. `op` is one
// of OP_OR, OP_AND, OP_XOR and OP_UNIQUE .. OP_DIFFERENCE.
void do_set_op(int32_t op);

void init();  // registers typeset!

}  // namespace kiv::typeset
