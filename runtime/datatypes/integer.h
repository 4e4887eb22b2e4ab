#pragma once
// integer!: the 32-bit signed whole number. The value lives in payload word 2.
#include "runtime/value.h"

namespace kiv::integer {

inline int32_t get_value(const kiv_value* v) { return int32_t(v->data2); }
inline kiv_value* make_at(kiv_value* cell, int32_t value) {
    *cell = kiv_value{TYPE_INTEGER, 0, uint32_t(value), 0};
    return cell;
}
kiv_value* make_in(kiv_value* block, int32_t value);
kiv_value* push(int32_t value);
kiv_value* return_(int32_t value);  // into the current result slot
int32_t get();                      // the current call's first argument
int32_t get_or_zero();
inline int32_t sign(int32_t v) { return (v > 0) - (v < 0); }
int32_t abs(int32_t value);         // raises `overflow` for the minimum
// Decimal text of the value in a static buffer.
const char* form_signed(int32_t value);

// The arithmetic core shared by the integer-like types: the result goes into
// `result`'s value word when given (its header is kept), or is returned.
int32_t do_math(int32_t left, int32_t right, int32_t op, kiv_value* result);
// The round action: in place, an integer! unless a scale other than an
// integer! makes it the scale's type.
kiv_value* round(kiv_value* value, kiv_value* scale, bool even, bool down, bool half_down, bool floor,
                 bool ceiling, bool half_ceiling);

void init();

}  // namespace kiv::integer
