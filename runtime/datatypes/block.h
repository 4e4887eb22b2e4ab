#pragma once
// block!: the list of value cells that programs, specs and most internal
// tables are made of. A block value is a series value of 16-byte units.
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv::block {

inline kiv_value* cells(const kiv_value* blk) {
    return reinterpret_cast<kiv_value*>(series::buffer(blk->data2)->offset);
}
inline uint32_t length_all(const kiv_value* blk) { return series::used_units(series::buffer(blk->data2)); }

// Raw accessors.
// A cursor past the tail is set to the tail.
inline kiv_value* ks_head(kiv_value* blk) {
    uint32_t length = length_all(blk);
    if (blk->data1 > length) blk->data1 = length;
    return cells(blk) + blk->data1;
}
inline kiv_value* ks_tail(const kiv_value* blk) {
    return reinterpret_cast<kiv_value*>(series::buffer(blk->data2)->tail);
}
inline bool ks_tail_q(const kiv_value* blk) { return blk->data1 == length_all(blk); }
inline int32_t ks_length_q(const kiv_value* blk) { return int32_t(length_all(blk)) - int32_t(blk->data1); }
bool ks_next(kiv_value* blk);
inline kiv_value* ks_abs_at(const kiv_value* blk, uint32_t index) { return cells(blk) + index; }
void ks_clear(kiv_value* blk);
void ks_set_tail(kiv_value* blk, uint32_t index);
kiv_value* ks_append_block(kiv_value* target, const kiv_value* source);

// Constructors and appenders.
kiv_value* make_at(kiv_value* cell, int32_t size);
kiv_value* init_at(kiv_value* cell, int32_t size, bool fixed);
kiv_value* make_in(kiv_value* parent, int32_t size);
kiv_value* append_value(kiv_value* parent, int32_t size);
kiv_value* push(const kiv_value* value);
kiv_value* push_only(int32_t size);
kiv_value* append_copy(kiv_value* blk, const kiv_value* value);
kiv_value* insert_value(kiv_value* blk, const kiv_value* value, bool advance, bool at_head);
kiv_value* append_all(kiv_value* target, const kiv_value* source);
kiv_value* clone(const kiv_value* blk, bool deep, bool all_kinds);
kiv_value* find_word(kiv_value* blk, const kiv_value* word, bool exact);
kiv_value* find_compare(kiv_value* blk, const kiv_value* value);
bool find_compare_from(kiv_value* blk, const kiv_value* value, bool from_head);

// Actions other modules reuse (paren! and the paths mold through these).
int32_t form(kiv_value* blk, kiv_value* buffer, kiv_value* arg, int32_t part);
int32_t mold_content(kiv_value* blk, kiv_value* buffer, bool only, bool all, bool flat,
                     kiv_value* arg, int32_t part, int32_t indent);
int32_t compare(kiv_value* blk1, kiv_value* blk2, int32_t op);

// Searching, reordering and modifying actions (signatures of their slots).
kiv_value* find(kiv_value* blk, kiv_value* value, kiv_value* part, bool only, bool case_, bool same,
                bool any, kiv_value* with, kiv_value* skip, bool last, bool reverse, bool tail,
                bool match);
kiv_value* select(kiv_value* blk, kiv_value* value, kiv_value* part, bool only, bool case_, bool same,
                  bool any, kiv_value* with, kiv_value* skip, bool last, bool reverse);
kiv_value* put(kiv_value* blk, kiv_value* key, kiv_value* value, bool case_);
kiv_value* insert(kiv_value* blk, kiv_value* value, int32_t part, bool only, int32_t dup, bool append);
kiv_value* change(kiv_value* blk, kiv_value* value, int32_t part, bool only, int32_t dup);
kiv_value* copy(kiv_value* blk, kiv_value* result, kiv_value* part, bool deep, kiv_value* types);
kiv_value* take(kiv_value* blk, kiv_value* part, bool deep, bool last);
kiv_value* swap(kiv_value* s1, kiv_value* s2);
kiv_value* sort(kiv_value* blk, bool case_, kiv_value* skip, kiv_value* comparator, kiv_value* part, bool all,
                bool reverse, bool stable);
kiv_value* trim(kiv_value* blk, bool head, bool tail, bool auto_, bool lines, bool all, kiv_value* with);
// unique, union, intersect, exclude, difference on the current call's first
// two arguments; the result replaces the first.
void do_set_op(bool case_, kiv_value* skip, int32_t op);

void init();

}  // namespace kiv::block
