#pragma once
// Hash tables. Both kinds share one open-addressing scheme: a power-of-two
// bucket count, two state bits per bucket (empty, deleted, used), triangular
// probing and a load bound of 77% that counts deleted buckets.
//
// Pointer tables live in the tracked heap and map 32-bit keys (node ids) to
// 32-bit values; the collector's forwarding map is one.
#include <cstdint>

namespace kiv::hashtable {

constexpr double LOAD_FACTOR = 0.77;

// Bucket states: two bits per bucket, sixteen buckets to a word.
enum bucket_state : uint32_t { BUCKET_USED = 0, BUCKET_DELETED = 1, BUCKET_EMPTY = 2 };
inline uint32_t state_of(const uint32_t* states, uint32_t i) {
    return (states[i >> 4] >> ((i & 15) * 2)) & 3;
}
inline void set_state(uint32_t* states, uint32_t i, uint32_t s) {
    uint32_t shift = (i & 15) * 2;
    states[i >> 4] = (states[i >> 4] & ~(3u << shift)) | (s << shift);
}
// The buckets a table asked for `count` keys gets, and its bound.
uint32_t buckets_for(uint32_t count);
inline uint32_t bound_of(uint32_t buckets) { return uint32_t(buckets * LOAD_FACTOR); }

struct pointer_table {
    uint32_t count;     // live keys
    uint32_t* flags;    // bucket states
    uint32_t* entries;  // {key, value} pairs
    uint32_t occupied;  // used plus deleted buckets
    uint32_t buckets;
    uint32_t bound;
};

pointer_table* new_table(uint32_t count);
void put_ptr(pointer_table* t, uint32_t key, uint32_t value);
void resize_table(pointer_table* t, uint32_t n);
uint32_t* get_entry(pointer_table* t, uint32_t key);  // the value word, or null
int32_t find_ptr_index(const pointer_table* t, uint32_t key);
void remove_ptr_entry(pointer_table* t, uint32_t key);
// The next used entry after `entry` (null: the first), in bucket order.
uint32_t* next_entry(pointer_table* t, uint32_t* entry);
inline uint32_t count(const pointer_table* t) { return t->count; }
void clear_table(pointer_table* t);
void free_table(pointer_table* t);

}  // namespace kiv::hashtable
