#pragma once
// The ownership table: series (and objects) bound to the object, and the
// object's field word, that own them, so that an in-place change of an owned
// series can notify the owner's on-deep-change* handler.
//
// One table of the node-keyed kind with owner check: each entry is four
// cells {key (unset, the node in its second word), the owned value, the
// owner object!, the owner's word}. The collector marks the table's own
// series only: an entry lives while both its series and its owner are
// reached from elsewhere, and the cycle drops the others.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::ownership {

constexpr uint32_t START_SIZE = 1000;
constexpr uint32_t EXTRA_CELLS = 3;           // owned value, owner, word
constexpr uint32_t IMAGE_OWNED = 0x10000;     // image! cell header: owned
constexpr uint32_t CONTEXT_OWNS = 0x10000;    // context cell header: the object owns series

extern node_id table;

// The deep-change notification: the object's on-deep-change* handler by
// default (tests put an observer in its place).
using notify_fn = void (*)(kiv_value* owner, kiv_value* word, kiv_value* value, int32_t action,
                           kiv_value* new_value, int32_t index, int32_t part);
extern notify_fn fire_on_deep_change;

void init();

// The node a value is owned by, 0 for datatypes that are never owned.
node_id key_of(const kiv_value* value);

// Binds the series (and, for blocks and objects, everything nested in them)
// to the owner and word.
void bind(kiv_value* value, const kiv_value* owner, const kiv_value* word);
// bind, then flags the owner's context as owning series.
void set(kiv_value* value, const kiv_value* owner, const kiv_value* word);
void unbind(kiv_value* value);
// unbind on `count` cells of the block from `index` cells past its head.
void unbind_range(const kiv_value* blk, uint32_t index, uint32_t count);

// modify's `owned` field: none unbinds the value; a block of an owner object
// and a word binds it to them (set). Other specs change nothing.
void modify_owned(kiv_value* value, const kiv_value* spec);

// reflect's `owned` field: the owner object as the result, none when the
// value has none.
void reflect_owner(const kiv_value* value);

// The entry's owner cell (the word cell follows it), or null.
kiv_value* owner_of(node_id node);

// Called by series actions around an in-place change. When the value is
// owned by an object with change handlers, notifies it (through
// fire_on_deep_change) and returns true.
bool check(kiv_value* value, int32_t action, kiv_value* new_value, int32_t index, int32_t part);

}  // namespace kiv::ownership
