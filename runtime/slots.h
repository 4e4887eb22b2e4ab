#pragma once
// Keep-alive tables between native objects and Kiv values.
//
// The external slot table holds native objects (bitmaps, fonts, COM objects)
// that handle! and image! values name by slot index: the collector marks the
// slots those values reach and releases every other object through its
// class's release function.
//
// The value slot pool keeps copies of value cells under a 1-based index that
// native code stores in records of its own; the pool is a collector root.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::externals {

constexpr uint32_t MAX_CLASSES = 20;
constexpr uint32_t START_SLOTS = 1000;
constexpr uint32_t CLASS_MASK = 0xFF;
constexpr uint32_t SLOT_FREE = 0x40000000;  // a free slot's flags, exactly
constexpr uint32_t SLOT_MARK = 0x80000000;

using release_fn = void (*)(void* object);

// {flags: class id | mark, next in the free or used list (-1 ends), object}.
struct slot {
    uint32_t flags;
    int32_t next;
    void* object;
};

void init();
// Class ids are 1-based in registration order. Registering more than
// MAX_CLASSES is a fatal runtime error (94).
uint32_t register_class(const char* name, release_fn release);
const char* class_name(uint32_t class_id);
// The slot index (0-based) now holding the object.
int32_t alloc_slot(void* object, uint32_t class_id);
// Stores a new object; a different old one is released through its class.
void set_object(int32_t index, void* object);
// Gives the slot back (releasing its object when asked) and returns -1 for
// the caller to store in place of the index. A free or unknown index is
// left alone.
int32_t free_slot(int32_t index, bool release);
// Marks the slot for this cycle, replacing its object when one is given;
// true when it was not marked yet. A free or unknown index is ignored.
bool mark_slot(int32_t index, void* object);
void for_each(uint32_t class_id, void (*fn)(void* object));
// After marking: releases and frees every unmarked used slot, clears the
// marks of the others.
void sweep();

uint32_t capacity();
const slot* at(int32_t index);  // null outside the table

}  // namespace kiv::externals

namespace kiv::slots {

constexpr uint32_t START_CELLS = 100;

// The pool: a block whose tail always covers its whole capacity.
extern kiv_value pool;

void init();
// Copies the value into a free cell and returns its 1-based index; a full
// pool first doubles.
uint32_t store(const kiv_value* value);
// The cell of a 1-based index (valid until the next allocation).
kiv_value* get(uint32_t index);
// Index 0 and indexes outside the pool are ignored.
void free(uint32_t index);
uint32_t capacity();

}  // namespace kiv::slots
