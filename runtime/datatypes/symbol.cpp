// The symbol table.
#include "runtime/datatypes/symbol.h"

#include <strings.h>

#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/unicode.h"

namespace kiv::symbol {

kiv_value block;
node_id table;

uint32_t count() { return series::used_units(series::buffer(block.data2)); }

const char* name_of(int32_t id, uint32_t* length) {
    series_buffer* b = series::buffer(record(id)->data3);
    if (length) *length = uint32_t(b->tail - b->offset);
    return reinterpret_cast<const char*>(b->offset);
}

namespace {

// Matches a name's exact spelling, noting on the way the first spelling that
// differs from it only in ASCII case; with `any_case`, that first one.
struct name_match {
    const uint8_t* name;
    uint32_t length;
    bool any_case;
    int32_t first_variant = -1;  // its position in the symbol block
    bool operator()(int32_t stored) {
        uint32_t n;
        const char* other = name_of(stored + 1, &n);
        if (n != length) return false;
        if (std::memcmp(other, name, n) == 0) return true;
        if (strncasecmp(other, reinterpret_cast<const char*>(name), n) != 0) return false;
        if (any_case) return true;
        if (first_variant < 0) first_variant = stored;
        return false;
    }
};

int32_t insert(const uint8_t* name, uint32_t length, int32_t alias, int32_t bucket) {
    uint32_t position = count();
    kiv_value* cell = series::alloc_tail_cell(series::buffer(block.data2));
    cell->header = TYPE_UNSET;  // valid while the name series is allocated
    node_id bytes = memory::alloc_bytes(length + 1);
    series_buffer* b = series::buffer(bytes);
    std::memcpy(b->offset, name, length);
    b->offset[length] = 0;
    b->tail = b->offset + length;
    *record(int32_t(position) + 1) = kiv_value{TYPE_SYMBOL, uint32_t(alias), 0, bytes};
    hashtable::use_bucket(table, bucket, int32_t(position));
    return int32_t(position) + 1;
}

int32_t stored_at(int32_t bucket) {
    return reinterpret_cast<int32_t*>(series::buffer(hashtable::record(table)->keys)->offset)[bucket];
}

// The exact spelling (flagged: any spelling ignoring ASCII case), else a new
// symbol, an alias of the first spelling met that ignores case (never an
// alias of an alias). One walk of the bucket chain finds both.
int32_t lookup(const uint8_t* name, uint32_t length, bool flagged) {
    hashtable::make_room(table);
    uint32_t hash = hashtable::hash_folded(name, length);
    int32_t at = -1;
    name_match match{name, length, flagged};
    int32_t found = hashtable::probe_with(table, hash, match, &at);
    if (found >= 0) return stored_at(found) + 1;
    int32_t alias = match.first_variant >= 0 ? resolve(match.first_variant + 1) : -1;
    return insert(name, length, alias, at);
}

int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    return string::compare_series(value1, value2, op, false);
}

}  // namespace

int32_t make_alt(const uint8_t* name, uint32_t length) { return lookup(name, length, false); }

int32_t make(const char* name) {
    return make_alt(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
}

int32_t make_flagged(const char* name) {
    return lookup(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), true);
}

int32_t from_string(kiv_value* str) {
    int32_t length = -1;  // all of it, from the cursor
    const char* utf8 = unicode::to_utf8(str, &length);
    return make_alt(reinterpret_cast<const uint8_t*>(utf8), uint32_t(length));
}

node_id cache_string(kiv_value* rec) {
    if (rec->data2) return rec->data2;
    int32_t id = int32_t(rec - record(1)) + 1;
    uint32_t length;
    const char* name = name_of(id, &length);
    node_id cached = unicode::load_utf8(reinterpret_cast<const uint8_t*>(name), length, 0, nullptr, false);
    record(id)->data2 = cached;
    return cached;
}

kiv_value* get(int32_t id) {
    cache_string(record(id));
    return record(id);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_SYMBOL, 0, "symbol!", {
        UNSUPPORTED,                  // make
        UNSUPPORTED,                  // random
        UNSUPPORTED,                  // reflect
        UNSUPPORTED,                  // to
        UNSUPPORTED,                  // form
        UNSUPPORTED,                  // mold
        UNSUPPORTED,                  // eval-path
        UNSUPPORTED,                  // (empty)
        impl<SLOT_COMPARE>(compare),  // compare
        UNSUPPORTED,                  // absolute
        UNSUPPORTED,                  // add
        UNSUPPORTED,                  // divide
        UNSUPPORTED,                  // multiply
        UNSUPPORTED,                  // negate
        UNSUPPORTED,                  // power
        UNSUPPORTED,                  // remainder
        UNSUPPORTED,                  // round
        UNSUPPORTED,                  // subtract
        UNSUPPORTED,                  // even?
        UNSUPPORTED,                  // odd?
        UNSUPPORTED,                  // and~
        UNSUPPORTED,                  // complement
        UNSUPPORTED,                  // or~
        UNSUPPORTED,                  // xor~
        UNSUPPORTED,                  // append
        UNSUPPORTED,                  // at
        UNSUPPORTED,                  // back
        UNSUPPORTED,                  // change
        UNSUPPORTED,                  // clear
        UNSUPPORTED,                  // copy
        UNSUPPORTED,                  // find
        UNSUPPORTED,                  // head
        UNSUPPORTED,                  // head?
        UNSUPPORTED,                  // index?
        UNSUPPORTED,                  // insert
        UNSUPPORTED,                  // length?
        UNSUPPORTED,                  // move
        UNSUPPORTED,                  // next
        UNSUPPORTED,                  // pick
        UNSUPPORTED,                  // poke
        UNSUPPORTED,                  // put
        UNSUPPORTED,                  // remove
        UNSUPPORTED,                  // reverse
        UNSUPPORTED,                  // select
        UNSUPPORTED,                  // sort
        UNSUPPORTED,                  // skip
        UNSUPPORTED,                  // swap
        UNSUPPORTED,                  // tail
        UNSUPPORTED,                  // tail?
        UNSUPPORTED,                  // take
        UNSUPPORTED,                  // trim
        UNSUPPORTED,                  // create
        UNSUPPORTED,                  // close
        UNSUPPORTED,                  // delete
        UNSUPPORTED,                  // modify
        UNSUPPORTED,                  // open
        UNSUPPORTED,                  // open?
        UNSUPPORTED,                  // query
        UNSUPPORTED,                  // read
        UNSUPPORTED,                  // rename
        UNSUPPORTED,                  // update
        UNSUPPORTED,                  // write
    });
}

void init_table() {
    node_id n = memory::alloc_cells(START_SIZE);
    block = kiv_value{TYPE_BLOCK, 0, n, 0};
    *block::alloc_tail(&runtime::root) = block;
    table = hashtable::init(START_SIZE, &block, hashtable::KIND_SYMBOLS, 0);
}

}  // namespace kiv::symbol
