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

// Series hash tables ------------------------------------------------------------
//
// A series hash table indexes the cells of a block. Its record and arrays are
// series, so they move like any buffer: re-read the record through its node
// after anything that allocates. Kinds:
//   0 hash!   positions of keys, duplicates chained;
//   1 map!    positions of key/value pairs;
//   2 symbols of the symbol table or of a context;
//   3 internal table keyed by node, entries of (extra + 1) cells;
//   4 the same, whose entries also name an owner object.
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv::hashtable {

enum table_kind : uint32_t { KIND_HASH = 0, KIND_MAP, KIND_SYMBOLS, KIND_NODES, KIND_OWNERSHIP };

struct hash_record {
    uint32_t count;     // live keys
    uint32_t indexes;   // kind 0: node of the position index; kinds 3-4: entry size in bytes
    node_id chains;     // kind 0: node of the duplicate chains (node ids of int arrays)
    node_id states;     // bucket states
    node_id keys;       // bucket array: positions (or -chain), kinds 3-4: byte offsets
    node_id blk;        // the data block
    uint32_t occupied;  // used plus deleted buckets
    uint32_t buckets;
    uint32_t bound;
    uint32_t kind;
    uint32_t stamp;     // 0, or the node-evacuation count + 1 when last built
    node_id hashes;     // map!: each used bucket's key hash, so that a probe
                        // compares only keys of the same hash; else 0
};

template <class T>
T* data_of_node(node_id n) {
    return reinterpret_cast<T*>(series::buffer(n)->offset);
}
inline hash_record* record(node_id table) { return data_of_node<hash_record>(table); }

// The hash of a cell by datatype (strings folded to upper case unless
// case-sensitive). Integers, the usual keys, hash without a call.
uint32_t hash_other(const kiv_value* v, bool case_sensitive);
inline uint32_t hash_value(const kiv_value* v, bool case_sensitive) {
    return type_of(v) == TYPE_INTEGER ? hash::mix(v->data2) : hash_other(v, case_sensitive);
}
// MurmurHash3 of a name with its ASCII letters lowered.
uint32_t hash_folded(const uint8_t* bytes, uint32_t length);
// Types found by identity (node) in identity tables.
bool identity_type_q(const kiv_value* v);

node_id init(uint32_t size, const kiv_value* blk, uint32_t kind, uint32_t extra);
// Puts the position of a cell of the data block. For map! and symbol tables
// a key already present is not added: its cell is returned instead.
// `rebuilt` is set to 2 when the table had to be rebuilt first (a hash!
// table is then rebuilt over every cell of its block, so indexing a run of
// new cells stops there).
kiv_value* put_key(node_id table, kiv_value* value, int32_t* rebuilt);
inline kiv_value* put(node_id table, kiv_value* value) { return put_key(table, value, nullptr); }
kiv_value* get(node_id table, const kiv_value* key, int32_t head, int32_t skip, int32_t op,
               bool last, bool reverse);
// Resumable search for every equal key; `state` holds {bucket, start, step},
// bucket -1 starting a new search.
struct probe_state {
    int32_t bucket = -1;
    uint32_t start = 0;
    uint32_t step = 0;
};
kiv_value* find_key(node_id table, const kiv_value* key, probe_state* state);

// Kinds 3 and 4: entries keyed by node.
kiv_value* put_index(node_id table, node_id key);
kiv_value* find_ptr(node_id table, node_id key);
void remove_ptr(node_id table, node_id key);
void refresh(node_id table);
void rehash_entries(node_id table);

void resize(node_id table, uint32_t n);  // hash!, and kinds 3-4 (rehash)
void grow(node_id table, uint32_t n);    // map! and symbols
void clear(node_id table);
void delete_at(node_id table, kiv_value* cell);
void remove_range(node_id table, uint32_t position, uint32_t n);
node_id copy_content(node_id table, node_id blk);
void shift_positions(node_id table, int32_t delta, uint32_t from, uint32_t count);
void move_keys(node_id table, uint32_t to, uint32_t from, uint32_t count);
// Indexes `count` cells of the block from `position` on (a hash!'s new cells).
void put_range(node_id table, uint32_t position, uint32_t count);

// Kind 2 word lookup: the index of the symbol's word, comparing canonical
// ids when case-insensitive. When absent and a context is given, a word
// {context, symbol, index} is appended to the words block, its index written
// to `index` and -1 returned.
int32_t insert_at(node_id table, uint32_t symbol, node_id ctx, bool case_insensitive,
                  int32_t* index);

void dump(node_id table);

// The collector's side. mark: the record, its arrays and its data block (the
// entries of an ownership table are left to sweep_keys); mark_fields: the
// same for a record already marked. sweep_keys, after marking, drops the
// entries of a node-keyed table whose key series (or, for ownership, whose
// owner object) was not reached, and marks what the other entries hold.
void mark(node_id* slot);
void mark_fields(node_id table);
void sweep_keys(node_id table);

// For tables with lookups of their own (symbol names): rebuilds a full table
// before an insertion, probes with a match callback on stored positions
// (see put_key for `insert_at`), and fills a bucket.
void make_room(node_id table);
// Triangular probing over the table's states; `match` decides for a used
// bucket (of the same hash, when the table keeps hashes). Returns the
// matching bucket or -1; `insert_at` receives the first deleted bucket met,
// else the empty one that ended the probe. The arrays are read again after
// a comparison that moved any buffer (one may allocate).
template <class Match>
int32_t probe_with(node_id table, uint32_t hash, Match& match, int32_t* insert_at) {
    hash_record* r = record(table);
    uint32_t mask = r->buckets - 1, buckets = r->buckets;
    uint32_t start = hash & mask, i = start;
    int32_t deleted = -1;
    const uint32_t* states = data_of_node<uint32_t>(r->states);
    const int32_t* keys = data_of_node<int32_t>(r->keys);
    const uint32_t* hashes = r->hashes ? data_of_node<uint32_t>(r->hashes) : nullptr;
    uint64_t layout = memory::layout_epoch;
    for (uint32_t step = 1;; step++) {
        uint32_t s = state_of(states, i);
        if (s == BUCKET_EMPTY) {
            if (insert_at) *insert_at = deleted >= 0 ? deleted : int32_t(i);
            return -1;
        }
        if (s == BUCKET_DELETED) {
            if (deleted < 0) deleted = int32_t(i);
        } else if (!hashes || hashes[i] == hash) {
            if (match(keys[i])) return int32_t(i);
            if (memory::layout_epoch != layout) {
                layout = memory::layout_epoch;
                r = record(table);
                states = data_of_node<uint32_t>(r->states);
                keys = data_of_node<int32_t>(r->keys);
                hashes = r->hashes ? data_of_node<uint32_t>(r->hashes) : nullptr;
            }
        }
        i = (i + step) & mask;
        if (i == start || step >= buckets) {
            if (insert_at) *insert_at = deleted;
            return -1;
        }
    }
}

// `hash` is the key's: a map! keeps it beside the bucket.
inline void use_bucket(node_id table, int32_t bucket, int32_t stored, uint32_t hash = 0) {
    hash_record* r = record(table);
    uint32_t* states = data_of_node<uint32_t>(r->states);
    if (state_of(states, uint32_t(bucket)) == BUCKET_EMPTY) r->occupied++;
    set_state(states, uint32_t(bucket), BUCKET_USED);
    data_of_node<int32_t>(r->keys)[bucket] = stored;
    if (r->hashes) data_of_node<uint32_t>(r->hashes)[bucket] = hash;
    r->count++;
}

}  // namespace kiv::hashtable
