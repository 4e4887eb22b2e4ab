#pragma once
// map!: a dictionary. Its entries live in a block, key then value, in the
// order they were first set; a hash table (kind map) indexes the keys. A
// removed entry keeps its two cells and its bucket, its value cell's header
// set to 0, so that setting the key again puts it back in its old place.
// Cell: {map!, head, entry block node, table node}.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::map {

// The datatypes a key may have.
bool key_type_q(uint32_t t);

// A new empty map with room for `capacity` entries.
kiv_value* make_at(kiv_value* cell, uint32_t capacity);
kiv_value* push(uint32_t capacity);
// A map of the key/value pairs of a block from its head; an odd count
// raises `invalid-arg` with the block, a refused key `invalid-path`.
kiv_value* make_from(kiv_value* cell, const kiv_value* blk);

uint32_t count(const kiv_value* m);
// The cells of the entry block (two per entry, removed ones included) and
// their number.
kiv_value* entries(const kiv_value* m);
uint32_t entry_cells(const kiv_value* m);
inline bool removed_q(const kiv_value* value_cell) { return value_cell->header == 0; }

// The value cell of a live key, or null.
kiv_value* find_value(const kiv_value* m, const kiv_value* key, bool case_);
// Sets a key (added at the end when new, put back in place when removed);
// `path` names the path in the error a refused key raises (null: none).
// Returns the value cell, valid until the map grows.
kiv_value* set_key(const kiv_value* m, const kiv_value* key, const kiv_value* value, bool case_,
                   const kiv_value* path);
// Sets each pair of a block; an odd count raises `invalid-arg`.
void extend(const kiv_value* m, const kiv_value* blk, bool case_);
// A new block of the live entries, key (as stored) then value.
kiv_value* body_of(const kiv_value* m, kiv_value* out);
// A key as code sees it: a stored set-word becomes a word.
kiv_value shown_key(const kiv_value* stored);

void init();

}  // namespace kiv::map
