#pragma once
// unset!, none! and logic!: their shared cells, constructors and the truth
// tests that conditions use.
#include "runtime/value.h"

namespace kiv {

extern const kiv_value unset_value;
extern const kiv_value none_value;
extern const kiv_value true_value;
extern const kiv_value false_value;

namespace unset {
kiv_value* return_();  // the current result slot becomes unset
kiv_value* push();
kiv_value* make_in(kiv_value* block);
void init();
}  // namespace unset

namespace none {
kiv_value* return_();
kiv_value* push();
kiv_value* make_at(kiv_value* block);  // appends a none cell to the block
void init();
}  // namespace none

namespace logic {
kiv_value* box(bool value);  // the current result slot becomes the logic!
kiv_value* push(bool value);
kiv_value* make_in(kiv_value* block, bool value);
inline bool get(const kiv_value* v) { return v->data1 != 0; }

// A value is false only when it is none or false.
inline bool truthy(const kiv_value* v) {
    uint32_t t = type_of(v);
    return t != TYPE_NONE && !(t == TYPE_LOGIC && v->data1 == 0);
}
bool true_q();   // the first argument; unset raises `no-return`
bool false_q();  // the first argument is none or false
// With `check`, an unset cell raises `no-value` naming `name`.
bool true_cell_q(const kiv_value* cell, bool check, const kiv_value* name);
bool top_false_q();

// The comparison codes that unset!, none! and logic! answer: the equalities
// and the sort orders.
inline bool equality_or_sort_q(int32_t op) {
    return op == 0 || op == 1 || op == 2 || op == 7 || op == 8 || op == 9 || op == 12;
}
inline bool top_true_q() { return !top_false_q(); }
void init();
}  // namespace logic

}  // namespace kiv
