// Hash tables.
#include "runtime/hashtable.h"

#include <cstring>

#include "runtime/hash.h"
#include "runtime/system.h"

namespace kiv::hashtable {

uint32_t buckets_for(uint32_t count) {
    if (count < 4) count = 4;
    return hash::next_pow2(uint32_t(count / LOAD_FACTOR));
}

static uint32_t* new_states(uint32_t buckets) {
    size_t bytes = (buckets + 15) / 16 * 4;
    auto* states = static_cast<uint32_t*>(memory::allocate(bytes));
    std::memset(states, 0xAA, bytes);
    return states;
}

// Triangular probing: the k-th retry looks k(k+1)/2 buckets past the start.
// Returns the bucket holding the key, or -1; `insert_at` receives the first
// deleted bucket met, else the empty bucket that ended the search.
static int32_t probe(const uint32_t* states, const uint32_t* entries, uint32_t buckets,
                     uint32_t key, int32_t* insert_at) {
    uint32_t mask = buckets - 1;
    uint32_t start = hash::mix(key) & mask, i = start;
    int32_t deleted = -1;
    for (uint32_t step = 1;; step++) {
        uint32_t s = state_of(states, i);
        if (s == BUCKET_EMPTY) {
            if (insert_at) *insert_at = deleted >= 0 ? deleted : int32_t(i);
            return -1;
        }
        if (s == BUCKET_DELETED) {
            if (deleted < 0) deleted = int32_t(i);
        } else if (entries[2 * i] == key) {
            return int32_t(i);
        }
        i = (i + step) & mask;
        if (i == start || step > buckets) {
            if (insert_at) *insert_at = deleted;
            return -1;
        }
    }
}

pointer_table* new_table(uint32_t count) {
    auto* t = static_cast<pointer_table*>(memory::allocate_zeroed(sizeof(pointer_table)));
    t->buckets = buckets_for(count);
    t->bound = bound_of(t->buckets);
    t->flags = new_states(t->buckets);
    t->entries = static_cast<uint32_t*>(memory::allocate(size_t(t->buckets) * 8));
    return t;
}

void resize_table(pointer_table* t, uint32_t n) {
    uint32_t buckets = hash::next_pow2(n < 4 ? 4 : n);
    uint32_t* old_states = t->flags;
    uint32_t* old_entries = t->entries;
    uint32_t old_buckets = t->buckets;
    t->flags = new_states(buckets);
    t->entries = static_cast<uint32_t*>(memory::allocate(size_t(buckets) * 8));
    t->buckets = buckets;
    t->bound = uint32_t(buckets * LOAD_FACTOR + 0.5);
    t->count = t->occupied = 0;
    for (uint32_t i = 0; i < old_buckets; i++)
        if (state_of(old_states, i) == BUCKET_USED) put_ptr(t, old_entries[2 * i], old_entries[2 * i + 1]);
    memory::free(old_states);
    memory::free(old_entries);
}

void put_ptr(pointer_table* t, uint32_t key, uint32_t value) {
    if (t->occupied >= t->bound)
        resize_table(t, 2 * t->count < t->buckets ? t->buckets - 1 : t->buckets + 1);
    int32_t at;
    int32_t found = probe(t->flags, t->entries, t->buckets, key, &at);
    if (found >= 0) {
        t->entries[2 * found + 1] = value;
        return;
    }
    if (state_of(t->flags, uint32_t(at)) == BUCKET_EMPTY) t->occupied++;
    set_state(t->flags, uint32_t(at), BUCKET_USED);
    t->entries[2 * at] = key;
    t->entries[2 * at + 1] = value;
    t->count++;
}

int32_t find_ptr_index(const pointer_table* t, uint32_t key) {
    return probe(t->flags, t->entries, t->buckets, key, nullptr);
}

uint32_t* get_entry(pointer_table* t, uint32_t key) {
    int32_t i = find_ptr_index(t, key);
    return i < 0 ? nullptr : &t->entries[2 * i + 1];
}

void remove_ptr_entry(pointer_table* t, uint32_t key) {
    int32_t i = find_ptr_index(t, key);
    if (i < 0) return;
    set_state(t->flags, uint32_t(i), BUCKET_DELETED);
    t->count--;
}

uint32_t* next_entry(pointer_table* t, uint32_t* entry) {
    uint32_t i = entry ? uint32_t((entry - t->entries) / 2) + 1 : 0;
    for (; i < t->buckets; i++)
        if (state_of(t->flags, i) == BUCKET_USED) return &t->entries[2 * i];
    return nullptr;
}

void clear_table(pointer_table* t) {
    std::memset(t->flags, 0xAA, (t->buckets + 15) / 16 * 4);
    t->count = t->occupied = 0;
}

void free_table(pointer_table* t) {
    memory::free(t->flags);
    memory::free(t->entries);
    memory::free(t);
}

}  // namespace kiv::hashtable
