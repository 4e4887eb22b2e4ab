#pragma once
// series!: the actions every series shares, working on any unit size (16-byte
// cells, 1-, 2- or 4-byte code units, bytes). A series value is {header,
// head (the cursor in units from the buffer's offset), node, fourth word}; the
// cursor may lie past the tail when the series was shortened through another
// value.
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv::series {

inline series_buffer* buffer_of(const kiv_value* s) { return buffer(s->data2); }
inline uint32_t unit_of_value(const kiv_value* s) { return unit_of(buffer_of(s)); }
// Units from the first one to the tail.
inline uint32_t ks_length_all(const kiv_value* s) { return used_units(buffer_of(s)); }
inline bool ks_tail_q(const kiv_value* s) { return s->data1 >= ks_length_all(s); }
// Address of the unit at an index from the first unit.
inline uint8_t* unit_at(const kiv_value* s, uint32_t index) {
    series_buffer* b = buffer_of(s);
    return b->offset + size_t(index) * unit_of(b);
}
// Moves the cursor n units unless that passes the tail; true when the new
// position is at or past the tail.
bool ks_skip(kiv_value* s, int32_t n);
// Units from the cursor (or the first unit) to the tail; a cursor past the
// tail is moved to the tail.
uint32_t get_length(kiv_value* s, bool from_head);

// Block-like series hold cells; string-like ones hold code units.
bool block_like_q(uint32_t type);
bool string_like_q(uint32_t type);
bool series_type_q(uint32_t type);

// The count of a /part argument: an integer!, or a position of the same
// series (same type and node) minus the cursor; anything else raises
// `invalid-refine-arg` naming the refinement.
int32_t part_count(const kiv_value* s, const kiv_value* part, const char* refinement = "part");

void init();  // registers series!

}  // namespace kiv::series
