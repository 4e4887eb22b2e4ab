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

// Series hash tables ------------------------------------------------------------

#include <algorithm>
#include <cstdio>
#include <vector>

#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"

namespace kiv::hashtable {

namespace {

uint32_t* states_of(const hash_record* r) { return data_of_node<uint32_t>(r->states); }
int32_t* keys_of(const hash_record* r) { return data_of_node<int32_t>(r->keys); }
uint32_t* hashes_of(const hash_record* r) { return data_of_node<uint32_t>(r->hashes); }
kiv_value* cells_of(const hash_record* r) { return data_of_node<kiv_value>(r->blk); }
uint32_t block_length(const hash_record* r) { return series::used_units(series::buffer(r->blk)); }

node_id new_states_series(uint32_t buckets) {
    uint32_t bytes = (buckets + 15) / 16 * 4;
    node_id n = memory::alloc_filled(bytes, 0xAA);
    series_buffer* b = series::buffer(n);
    b->tail = b->offset + bytes;
    return n;
}

node_id new_int_array(uint32_t count, int32_t fill) {
    node_id n = memory::alloc_series(count ? count : 1, 4, 0);
    series_buffer* b = series::buffer(n);
    auto* p = reinterpret_cast<int32_t*>(b->offset);
    std::fill(p, p + count, fill);
    b->tail = b->offset + size_t(count) * 4;
    return n;
}

// Appends an int to an int array series.
void append_int(node_id array, int32_t v) {
    uint8_t* at = series::alloc_tail_bytes(series::buffer(array), 4);
    std::memcpy(at, &v, 4);
}

uint32_t int_count(node_id array) { return series::used_units(series::buffer(array)); }

uint32_t stamp_now() { return collector::nodes_cycles + 1; }

// The code points of a string, each as a 32-bit block (upper-cased unless
// case-sensitive), through MurmurHash3. ASCII letters fold without the
// case tables: map keys hash on every lookup.
uint32_t hash_string(const kiv_value* s, bool case_sensitive) {
    series_buffer* b = series::buffer(s->data2);
    uint32_t unit = unit_of(b);
    hash::murmur3_blocks h;
    const uint8_t* p = b->offset + size_t(s->data1) * unit;
    if (unit == 1) {
        // One loop per case. Eight ASCII bytes fold at once: a byte from
        // 'a' to 'z' loses 0x20, told by the high bits of two sums that
        // cannot carry between bytes below 0x80.
        if (case_sensitive) {
            for (; p < b->tail; p++) h.add(*p);
            return h.finish();
        }
        constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
        for (; b->tail - p >= 8; p += 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            if (w & highs) break;
            uint64_t lower = (w + 0x1F * ones) & ~(w + 0x05 * ones) & highs;
            w -= lower >> 2;
            for (int i = 0; i < 8; i++) h.add(uint32_t(w >> (8 * i)) & 0xFF);
        }
        for (; p < b->tail; p++) h.add(unicode::fold_upper(*p));
        return h.finish();
    }
    for (; p < b->tail; p += unit) {
        uint32_t cp = string::get_char(p, unit);
        h.add(case_sensitive ? cp : unicode::fold_upper(cp));
    }
    return h.finish();
}

uint32_t hash_words(const kiv_value* v, int first, int count) {
    const uint32_t* words = &v->header;
    return hash::murmur3(words + first, size_t(count) * 4);
}

}  // namespace


// Names hash on their bytes with ASCII letters lowered, so that every
// spelling of a name starts at one bucket.
uint32_t hash_folded(const uint8_t* bytes, uint32_t length) {
    // Most keys (names above all) are short enough to fold on the stack.
    uint8_t small[64];
    static std::vector<uint8_t> large;
    uint8_t* folded = small;
    if (length > sizeof small) {
        large.resize(length);
        folded = large.data();
    }
    for (uint32_t i = 0; i < length; i++) {
        uint8_t c = bytes[i];
        folded[i] = c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c;
    }
    return hash::murmur3(folded, length);
}

uint32_t hash_other(const kiv_value* v, bool case_sensitive) {
    switch (type_of(v)) {
        case TYPE_UNSET: return 0xFFFFFFFE;
        case TYPE_NONE: return 0xFFFFFFFF;
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
            return hash::mix(v->data1);
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT:
            return hash::mix(v->data2);
        case TYPE_NATIVE: case TYPE_ACTION:
            return hash::mix(v->data3);
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE:
            return hash::mix(uint32_t(symbol::resolve(int32_t(v->data2))));
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH: case TYPE_POINT2D: case TYPE_IMAGE:
            return hash_words(v, 1, 2);
        case TYPE_FLOAT: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TIME:
            return hash_words(v, 2, 2);
        case TYPE_OP: case TYPE_FUNCTION: case TYPE_TRIPLE: case TYPE_TYPESET: case TYPE_DATE:
        case TYPE_POINT3D:
            return hash_words(v, 1, 3);
        case TYPE_TUPLE:
            return hash::murmur3(&v->data1, (v->header >> 19) & 0xF);
        case TYPE_MONEY: {
            // The digits alone: values equal under loose comparison (a code
            // and none) must meet.
            kiv_value amount = *v;
            money::set_currency(&amount, 0);
            return hash_words(&amount, 1, 3);
        }
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF:
            return hash_string(v, case_sensitive);
        case TYPE_BINARY: {
            series_buffer* b = series::buffer(v->data2);
            uint8_t* head = b->offset + v->data1;
            return hash::murmur3(head, head < b->tail ? size_t(b->tail - head) : 0);
        }
        case TYPE_SYMBOL: {
            series_buffer* b = series::buffer(v->data3);
            return hash_folded(b->offset, uint32_t(b->tail - b->offset));
        }
        default:
            return 0;
    }
}

bool identity_type_q(const kiv_value* v) {
    uint32_t t = type_of(v);
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_NATIVE && t <= TYPE_GET_PATH) ||
           t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_HASH || t == TYPE_MAP ||
           t == TYPE_PORT || t == TYPE_IMAGE || t == TYPE_EVENT;
}

namespace {

template <class Match>
int32_t probe(node_id table, uint32_t hash, Match match, int32_t* insert_at) {
    return probe_with(table, hash, match, insert_at);
}

}  // namespace

namespace {

// The position index of a hash! grows with -1 to cover a position.
void index_position(node_id table, uint32_t position, int32_t bucket) {
    hash_record* r = record(table);
    node_id index = r->indexes;
    while (int_count(index) <= position) append_int(index, -1);
    data_of_node<int32_t>(index)[position] = bucket;
}

bool keys_match(const hash_record* r, const kiv_value* stored, const kiv_value* key) {
    if (type_of(stored) != type_of(key)) return false;
    if (type_of(key) == TYPE_INTEGER) return stored->data2 == key->data2;
    kiv_value a = *stored, b = *key;
    int32_t op = r->kind == KIND_HASH ? COMP_EQUAL : COMP_STRICT_EQUAL;
    return actions::compare(&a, &b, op);
}

}  // namespace

// The rebuild of a full table: purge deleted buckets when fewer than half
// hold live keys, else double.
void make_room(node_id table) {
    hash_record* r = record(table);
    if (r->occupied < r->bound) return;
    bool sparse = 2 * r->count < r->buckets && r->kind != KIND_MAP;
    uint32_t requested = sparse ? r->buckets - 1 : r->buckets + 1;
    if (r->kind == KIND_HASH) resize(table, requested);
    else grow(table, requested);
}

kiv_value* put_key(node_id table, kiv_value* value, int32_t* rebuilt) {
    hash_record* r = record(table);
    if (r->occupied >= r->bound) {
        uint32_t position = uint32_t(value - cells_of(r));
        make_room(table);
        if (rebuilt) *rebuilt = 2;
        // A hash! is rebuilt from every cell of its block, this one included.
        if (record(table)->kind == KIND_HASH) return nullptr;
        value = cells_of(record(table)) + position;
    }
    r = record(table);
    uint32_t position = uint32_t(value - cells_of(r));
    kiv_value key = *value;
    bool hash_kind = r->kind == KIND_HASH;
    if (hash_kind && identity_type_q(&key) && r->stamp == 0) r->stamp = stamp_now();
    int32_t at = -1;
    uint32_t hash = hash_value(&key, false);
    int32_t found = probe(table, hash, [&](int32_t stored) {
        hash_record* rr = record(table);
        int32_t p = stored;
        if (p < 0) p = data_of_node<int32_t>(data_of_node<node_id>(rr->chains)[-stored - 1])[0];
        return keys_match(rr, cells_of(rr) + p, &key);
    }, &at);
    r = record(table);
    if (found >= 0) {
        if (!hash_kind) return cells_of(r) + keys_of(r)[found];
        // A duplicate key: the bucket names a chain of positions.
        int32_t stored = keys_of(r)[found];
        if (stored >= 0) {
            node_id chain = new_int_array(1, stored);
            append_int(record(table)->chains, int32_t(chain));
            r = record(table);
            stored = -int32_t(int_count(r->chains));
            keys_of(r)[found] = stored;
        }
        append_int(data_of_node<node_id>(record(table)->chains)[-stored - 1], int32_t(position));
        index_position(table, position, found);
        record(table)->count++;
        return nullptr;
    }
    use_bucket(table, at, int32_t(position), hash);
    if (hash_kind) index_position(table, position, at);
    return nullptr;
}

// Every position a bucket stands for: one, or a whole chain.
static void positions_of(const hash_record* r, int32_t stored, std::vector<int32_t>& out) {
    out.clear();
    if (stored >= 0) {
        out.push_back(stored);
        return;
    }
    node_id chain = data_of_node<node_id>(r->chains)[-stored - 1];
    int32_t* p = data_of_node<int32_t>(chain);
    out.assign(p, p + int_count(chain));
}

kiv_value* get(node_id table, const kiv_value* key, int32_t head, int32_t skip, int32_t op,
               bool last, bool reverse) {
    hash_record* r = record(table);
    kiv_value k = *key;
    if (r->kind == KIND_MAP && (type_of(&k) >= TYPE_WORD && type_of(&k) <= TYPE_GET_WORD))
        cell::set_type(&k, TYPE_SET_WORD);
    // Keys are put under their case-folded hash, so every lookup starts
    // there; a case-sensitive one is told apart by its comparison.
    if (r->kind != KIND_HASH) {
        int32_t found = probe(table, hash_value(&k, false), [&](int32_t stored) {
            hash_record* rr = record(table);
            kiv_value a = cells_of(rr)[stored];
            return type_of(&a) == type_of(&k) && actions::compare(&a, &k, op);
        }, nullptr);
        return found < 0 ? nullptr : cells_of(record(table)) + keys_of(record(table))[found];
    }
    if (skip < 1) skip = 1;
    std::vector<int32_t> positions;
    // A chain holds the keys equal to its first one, as they were put; a
    // stricter lookup then keeps the positions that pass its own test.
    int32_t found = probe(table, hash_value(&k, false), [&](int32_t stored) {
        hash_record* rr = record(table);
        positions_of(rr, stored, positions);
        kiv_value a = cells_of(rr)[positions[0]];
        if (type_of(&a) != type_of(&k)) return false;
        return type_of(&k) == TYPE_INTEGER ? a.data2 == k.data2 : actions::compare(&a, &k, COMP_EQUAL);
    }, nullptr);
    if (found < 0) return nullptr;
    bool strict = op != COMP_EQUAL && op != COMP_FIND;
    bool back = last || reverse;
    int32_t best = -1;
    for (int32_t p : positions) {
        int32_t distance = back ? head - p - 1 : p - head;
        if (distance < 0 || distance % skip != 0) continue;
        if (best >= 0 && (back ? p < best : p > best)) continue;
        if (strict) {
            kiv_value a = cells_of(record(table))[p];
            if (!actions::compare(&a, &k, op)) continue;
        }
        best = p;
    }
    return best < 0 ? nullptr : cells_of(record(table)) + best;
}

kiv_value* find_key(node_id table, const kiv_value* key, probe_state* state) {
    kiv_value k = *key;
    for (;;) {
        hash_record* r = record(table);
        uint32_t mask = r->buckets - 1;
        if (state->bucket < 0) {
            state->start = hash_value(&k, false) & mask;
            state->bucket = int32_t(state->start);
            state->step = 0;
        } else {
            state->step++;
            state->bucket = int32_t((uint32_t(state->bucket) + state->step) & mask);
            if (uint32_t(state->bucket) == state->start || state->step >= r->buckets) return nullptr;
        }
        uint32_t s = state_of(states_of(r), uint32_t(state->bucket));
        if (s == BUCKET_EMPTY) return nullptr;
        if (s != BUCKET_USED) continue;
        int32_t stored = keys_of(r)[state->bucket];
        if (stored < 0) stored = data_of_node<int32_t>(data_of_node<node_id>(r->chains)[-stored - 1])[0];
        kiv_value a = cells_of(r)[stored];
        if (type_of(&a) == type_of(&k) && actions::compare(&a, &k, COMP_EQUAL))
            return cells_of(record(table)) + stored;
    }
}

// Kinds 3 and 4 -------------------------------------------------------------------

namespace {

uint32_t entry_cells(const hash_record* r) { return r->indexes / sizeof(kiv_value); }

int32_t probe_node(node_id table, node_id key, int32_t* insert_at) {
    return probe(table, hash::mix(key), [&](int32_t offset) {
        hash_record* r = record(table);
        auto* cell = reinterpret_cast<kiv_value*>(reinterpret_cast<uint8_t*>(cells_of(r)) + offset);
        return type_of(cell) == TYPE_UNSET && cell->data1 == key;
    }, insert_at);
}

kiv_value* entry_at(const hash_record* r, int32_t offset) {
    return reinterpret_cast<kiv_value*>(reinterpret_cast<uint8_t*>(cells_of(r)) + offset);
}

bool stale_q(const hash_record* r) { return r->stamp != 0 && r->stamp != stamp_now(); }

}  // namespace

void refresh(node_id table) {
    hash_record* r = record(table);
    if (!stale_q(r) || collector::running_q) return;
    if (r->kind == KIND_HASH) resize(table, block_length(r));
    else rehash_entries(table);
}

void rehash_entries(node_id table) {
    hash_record* r = record(table);
    std::memset(states_of(r), 0xAA, (r->buckets + 15) / 16 * 4);
    r->count = r->occupied = 0;
    uint32_t size = entry_cells(r);
    uint32_t cells = block_length(r);
    for (uint32_t i = 0; i + size <= cells; i += size) {
        r = record(table);
        kiv_value* key = cells_of(r) + i;
        if (type_of(key) != TYPE_UNSET || key->data1 == 0) continue;
        int32_t at;
        if (probe_node(table, key->data1, &at) < 0) use_bucket(table, at, int32_t(i * sizeof(kiv_value)));
    }
    record(table)->stamp = stamp_now();
}

kiv_value* put_index(node_id table, node_id key) {
    refresh(table);
    hash_record* r = record(table);
    if (r->occupied >= r->bound)
        resize(table, 2 * r->count < r->buckets ? r->buckets - 1 : r->buckets + 1);
    int32_t at;
    int32_t found = probe_node(table, key, &at);
    if (found >= 0) return entry_at(record(table), keys_of(record(table))[found]) + 1;
    r = record(table);
    uint32_t size = entry_cells(r);
    int32_t offset;
    if (state_of(states_of(r), uint32_t(at)) == BUCKET_DELETED) {
        offset = keys_of(r)[at];  // reuse the deleted entry
    } else {
        series_buffer* b = series::buffer(r->blk);
        offset = int32_t(b->tail - b->offset);
        for (uint32_t i = 0; i < size; i++) series::alloc_tail_cell(series::buffer(record(table)->blk));
    }
    use_bucket(table, at, offset);
    r = record(table);
    kiv_value* entry = entry_at(r, offset);
    for (uint32_t i = 0; i < size; i++) entry[i] = kiv_value{TYPE_UNSET, 0, 0, 0};
    entry->data1 = key;
    return entry + 1;
}

kiv_value* find_ptr(node_id table, node_id key) {
    refresh(table);
    int32_t found = probe_node(table, key, nullptr);
    return found < 0 ? nullptr : entry_at(record(table), keys_of(record(table))[found]) + 1;
}

void remove_ptr(node_id table, node_id key) {
    int32_t found = probe_node(table, key, nullptr);
    if (found < 0) return;
    hash_record* r = record(table);
    set_state(states_of(r), uint32_t(found), BUCKET_DELETED);
    kiv_value* entry = entry_at(r, keys_of(r)[found]);
    entry->header = entry->data1 = 0;
    r->count--;
}

// Rebuilding ----------------------------------------------------------------------

namespace {

// Empty arrays of `buckets`: states, bucket array and, for a map!, hashes.
struct bucket_arrays {
    node_id states, keys, hashes;
};
bucket_arrays new_buckets(node_id table, uint32_t buckets) {
    node_id states = new_states_series(buckets);
    node_id keys = new_int_array(buckets, 0);
    node_id hashes = record(table)->kind == KIND_MAP ? new_int_array(buckets, 0) : 0;
    return {states, keys, hashes};
}

void use_buckets(node_id table, bucket_arrays a, uint32_t buckets, uint32_t bound) {
    hash_record* r = record(table);
    r->states = a.states;
    r->keys = a.keys;
    r->hashes = a.hashes;
    r->buckets = buckets;
    r->bound = bound;
    r->count = r->occupied = 0;
}

// Fresh states and bucket array of `buckets`; the old arrays stay garbage.
void fresh_buckets(node_id table, uint32_t buckets, uint32_t bound) {
    use_buckets(table, new_buckets(table, buckets), buckets, bound);
}

// Puts every cell of the data block from `from` on (a map! steps two).
void rehash_series(node_id table, uint32_t from) {
    uint32_t step = record(table)->kind == KIND_MAP ? 2 : 1;
    for (uint32_t i = from; i < block_length(record(table)); i += step) {
        kiv_value* cell = cells_of(record(table)) + i;
        if (record(table)->kind == KIND_MAP && type_of(cell + 1) == 0) continue;  // a removed pair
        kiv_value* found = put_key(table, cell, nullptr);
        if (found && record(table)->kind == KIND_MAP) {
            // The first occurrence keeps its place; the last value wins.
            hash_record* r = record(table);
            uint32_t at = uint32_t(found - cells_of(r));
            cells_of(r)[at + 1] = cells_of(r)[i + 1];
            series_buffer* b = series::buffer(r->blk);
            kiv_value* cells = reinterpret_cast<kiv_value*>(b->offset);
            std::memmove(cells + i, cells + i + 2, (block_length(r) - i - 2) * sizeof(kiv_value));
            b->tail -= 2 * sizeof(kiv_value);
            i -= step;
        }
    }
}

}  // namespace

void resize(node_id table, uint32_t n) {
    collector::compaction_guard keep_nodes;  // keys hashed by node must stay valid
    hash_record* r = record(table);
    if (r->kind == KIND_NODES || r->kind == KIND_OWNERSHIP) {
        // Rebuilds the entries into a new data block.
        uint32_t buckets = hash::next_pow2(n < 4 ? 4 : n);
        uint32_t size = entry_cells(r);
        node_id old = r->blk;
        uint32_t old_cells = block_length(r);
        node_id blk = memory::alloc_cells(uint32_t(buckets * LOAD_FACTOR + 1) * size);
        fresh_buckets(table, buckets, uint32_t(buckets * LOAD_FACTOR + 0.5));
        record(table)->blk = blk;
        for (uint32_t i = 0; i + size <= old_cells; i += size) {
            kiv_value* key = data_of_node<kiv_value>(old) + i;
            if (type_of(key) != TYPE_UNSET || key->data1 == 0) continue;
            node_id k = key->data1;
            kiv_value* entry = put_index(table, k);
            std::memcpy(entry, data_of_node<kiv_value>(old) + i + 1, (size - 1) * sizeof(kiv_value));
        }
        record(table)->stamp = stamp_now();
        return;
    }
    uint32_t buckets = hash::next_pow2(std::max(4u, uint32_t(n * 1.5)));
    fresh_buckets(table, buckets, bound_of(buckets));
    node_id index = new_int_array(block_length(record(table)), -1);
    node_id chains = memory::alloc_series(4, 4, 0);
    r = record(table);
    r->indexes = index;
    r->chains = chains;
    r->stamp = 0;
    rehash_series(table, 0);
}

void grow(node_id table, uint32_t n) {
    hash_record* r = record(table);
    uint32_t buckets = hash::next_pow2(n < 4 ? 4 : n);
    uint32_t bound = uint32_t(buckets * LOAD_FACTOR + 0.5);
    if (r->count >= bound) return;
    // The new arrays are made while the record still holds the old ones,
    // then every used bucket moves over: nothing allocates from there on.
    // A map! keeps its hashes, a symbol table hashes its names again.
    bucket_arrays fresh = new_buckets(table, buckets);
    r = record(table);
    const uint32_t* old_states = states_of(r);
    const int32_t* old_keys = keys_of(r);
    const uint32_t* old_hashes = r->hashes ? hashes_of(r) : nullptr;
    uint32_t mask = buckets - 1;
    auto* states = data_of_node<uint32_t>(fresh.states);
    auto* keys = data_of_node<int32_t>(fresh.keys);
    auto* hashes = fresh.hashes ? data_of_node<uint32_t>(fresh.hashes) : nullptr;
    uint32_t used = 0;
    for (uint32_t b = 0; b < r->buckets; b++) {
        if (state_of(old_states, b) != BUCKET_USED) continue;
        int32_t position = old_keys[b];
        uint32_t hash = old_hashes ? old_hashes[b] : hash_value(cells_of(r) + position, false);
        // Nothing is deleted in fresh buckets: the first empty one is the place.
        uint32_t i = hash & mask;
        for (uint32_t step = 1; state_of(states, i) != BUCKET_EMPTY; step++) i = (i + step) & mask;
        set_state(states, i, BUCKET_USED);
        keys[i] = position;
        if (hashes) hashes[i] = hash;
        used++;
    }
    uint32_t live = r->count;
    use_buckets(table, fresh, buckets, bound);
    r = record(table);
    r->occupied = used;
    r->count = live;  // a map!'s removed pairs keep their buckets
}

void clear(node_id table) {
    hash_record* r = record(table);
    std::memset(states_of(r), 0xAA, (r->buckets + 15) / 16 * 4);
    r->count = r->occupied = 0;
    if (r->kind == KIND_HASH) {
        series_buffer* chains = series::buffer(r->chains);
        chains->tail = chains->offset;
        series_buffer* index = series::buffer(r->indexes);
        std::fill(reinterpret_cast<int32_t*>(index->offset), reinterpret_cast<int32_t*>(index->tail), -1);
    }
}

void delete_at(node_id table, kiv_value* cell) {
    hash_record* r = record(table);
    int32_t position = int32_t(cell - cells_of(r));
    if (r->kind != KIND_HASH) {
        if (r->kind == KIND_MAP) cell[1].header = 0;
        r->count--;
        return;
    }
    node_id index = r->indexes;
    if (uint32_t(position) >= int_count(index)) return;
    int32_t bucket = data_of_node<int32_t>(index)[position];
    if (bucket < 0) return;
    data_of_node<int32_t>(index)[position] = -1;
    int32_t stored = keys_of(r)[bucket];
    if (stored < 0) {
        // Drop the position from its chain; an emptied chain frees the bucket.
        node_id chain = data_of_node<node_id>(r->chains)[-stored - 1];
        series_buffer* b = series::buffer(chain);
        auto* p = reinterpret_cast<int32_t*>(b->offset);
        uint32_t n = int_count(chain);
        uint32_t k = 0;
        for (uint32_t i = 0; i < n; i++)
            if (p[i] != position) p[k++] = p[i];
        b->tail = b->offset + size_t(k) * 4;
        r->count--;
        if (k > 0) return;
    } else {
        r->count--;
    }
    set_state(states_of(r), uint32_t(bucket), BUCKET_DELETED);
}

void remove_range(node_id table, uint32_t position, uint32_t n) {
    hash_record* r = record(table);
    uint32_t length = block_length(r);
    if (position >= length) return;
    if (n > length - position) n = length - position;
    if (position == 0 && n == length) {
        clear(table);
        return;
    }
    for (uint32_t i = 0; i < n; i++) delete_at(table, cells_of(record(table)) + position + i);
}

node_id copy_content(node_id table, node_id blk) {
    hash_record* r = record(table);
    node_id states = memory::copy_series(series::buffer(r->states));
    node_id keys = memory::copy_series(series::buffer(record(table)->keys));
    node_id hashes = record(table)->hashes ? memory::copy_series(series::buffer(record(table)->hashes)) : 0;
    node_id copy = memory::copy_series(series::buffer(table));
    hash_record* c = record(copy);
    c->states = states;
    c->keys = keys;
    c->hashes = hashes;
    c->blk = blk;
    if (c->kind == KIND_HASH) {
        node_id index = memory::copy_series(series::buffer(record(table)->indexes));
        record(copy)->indexes = index;
        // Chains are copied one by one so that the two tables never share one.
        node_id chains = memory::copy_series(series::buffer(record(table)->chains));
        record(copy)->chains = chains;
        for (uint32_t i = 0; i < int_count(chains); i++) {
            node_id chain = memory::copy_series(series::buffer(data_of_node<node_id>(chains)[i]));
            data_of_node<node_id>(chains)[i] = chain;
        }
    }
    return copy;
}

namespace {

// Applies a position mapping to every stored position (buckets and chains)
// and rebuilds a hash!'s position index from the buckets.
template <class Map>
void remap_positions(node_id table, Map map) {
    hash_record* r = record(table);
    for (uint32_t i = 0; i < r->buckets; i++) {
        if (state_of(states_of(r), i) != BUCKET_USED) continue;
        int32_t& stored = keys_of(r)[i];
        if (stored >= 0) stored = map(stored);
    }
    if (r->kind != KIND_HASH) return;
    for (uint32_t c = 0; c < int_count(r->chains); c++) {
        node_id chain = data_of_node<node_id>(r->chains)[c];
        int32_t* p = data_of_node<int32_t>(chain);
        for (uint32_t i = 0; i < int_count(chain); i++) p[i] = map(p[i]);
    }
    node_id index = record(table)->indexes;
    std::fill(data_of_node<int32_t>(index), data_of_node<int32_t>(index) + int_count(index), -1);
    std::vector<int32_t> positions;
    for (uint32_t i = 0; i < record(table)->buckets; i++) {
        r = record(table);
        if (state_of(states_of(r), i) != BUCKET_USED) continue;
        positions_of(r, keys_of(r)[i], positions);
        for (int32_t p : positions) index_position(table, uint32_t(p), int32_t(i));
    }
}

}  // namespace

void shift_positions(node_id table, int32_t delta, uint32_t from, uint32_t count) {
    int64_t lo = from, hi = int64_t(from) + count;
    remap_positions(table, [=](int32_t p) { return p >= lo && p < hi ? p + delta : p; });
}

void move_keys(node_id table, uint32_t to, uint32_t from, uint32_t count) {
    if (to >= from && to < from + count) return;
    int64_t f = from, t = to, n = count;
    remap_positions(table, [=](int32_t p) -> int32_t {
        if (p >= f && p < f + n) return int32_t(p - f + t);
        if (t < f && p >= t && p < f) return int32_t(p + n);
        if (t > f && p >= f + n && p < t + n) return int32_t(p - n);
        return p;
    });
}

void put_range(node_id table, uint32_t position, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        int32_t rebuilt = 0;
        put_key(table, cells_of(record(table)) + position + i, &rebuilt);
        if (rebuilt) return;
    }
}

int32_t insert_at(node_id table, uint32_t symbol, node_id ctx, bool case_insensitive,
                  int32_t* index) {
    int32_t key = case_insensitive ? symbol::resolve(int32_t(symbol)) : int32_t(symbol);
    auto match = [&](int32_t stored) {
        int32_t s = int32_t(cells_of(record(table))[stored].data2);
        return (case_insensitive ? symbol::resolve(s) : s) == key;
    };
    int32_t at;
    uint32_t hash = hash::mix(uint32_t(symbol::resolve(int32_t(symbol))));
    int32_t found = probe(table, hash, match, &at);
    if (found >= 0) {
        *index = keys_of(record(table))[found];
        return *index;
    }
    if (!ctx) return -1;
    if (record(table)->occupied >= record(table)->bound) {
        make_room(table);
        probe(table, hash, match, &at);
    }
    uint32_t position = block_length(record(table));
    kiv_value* word = series::alloc_tail_cell(series::buffer(record(table)->blk));
    *word = kiv_value{TYPE_WORD, ctx, symbol, position};
    use_bucket(table, at, int32_t(position));
    *index = int32_t(position);
    return -1;
}

void dump(node_id table) {
    hash_record* r = record(table);
    std::printf("\n== Deleted keys ==\n");
    for (uint32_t i = 0; i < r->buckets; i++)
        if (state_of(states_of(r), i) == BUCKET_DELETED) std::printf("%u %d\n", i, keys_of(r)[i]);
    std::printf("== Alive keys ==\n");
    for (uint32_t i = 0; i < r->buckets; i++)
        if (state_of(states_of(r), i) == BUCKET_USED) std::printf("%u %d\n", i, keys_of(r)[i]);
}

node_id init(uint32_t size, const kiv_value* blk, uint32_t kind, uint32_t extra) {
    if (size < 4) size = 4;
    if (kind == KIND_SYMBOLS && size >= 4000) size *= 2;
    node_id table = memory::alloc_bytes(sizeof(hash_record));
    {
        series_buffer* b = series::buffer(table);
        b->flags |= SERIES_HASH;  // lets the collector mark a record only a local holds
        std::memset(b->offset, 0, sizeof(hash_record));
        b->tail = b->offset + sizeof(hash_record);
    }
    uint32_t buckets = hash::next_pow2(uint32_t(size / LOAD_FACTOR));
    // The record's first words are set before anything else allocates, so
    // that a collection in between sees a consistent record.
    record(table)->kind = kind;
    fresh_buckets(table, buckets, bound_of(buckets));
    bool owns_block = kind == KIND_NODES || kind == KIND_OWNERSHIP || !blk;
    if (kind == KIND_HASH) {
        node_id index = new_int_array(size, -1);
        record(table)->indexes = index;
        node_id chains = memory::alloc_series(4, 4, 0);
        record(table)->chains = chains;
    }
    if (kind == KIND_NODES || kind == KIND_OWNERSHIP) {
        record(table)->indexes = (extra + 1) * sizeof(kiv_value);
        record(table)->stamp = stamp_now();
    }
    if (owns_block) {
        uint32_t cells = kind >= KIND_NODES ? size * (extra + 1) : size;
        node_id b = memory::alloc_cells(cells);
        record(table)->blk = b;
        return table;
    }
    record(table)->blk = blk->data2;
    // A hash! being filled is kept reachable through a value on the stack.
    kiv_value keep{TYPE_HASH, 0, blk->data2, table};
    if (kind == KIND_HASH) stack::push_value(&keep);
    rehash_series(table, blk->data1);
    if (kind == KIND_HASH) stack::pop(1);
    return table;
}

}  // namespace kiv::hashtable
