#pragma once
// pair!: two signed 32-bit integers, x in payload word 2 and y in word 3,
// written 2x3. Sizes, offsets and coordinates of the GUI are pairs. Whatever
// needs fractions (a product by a float, an uneven quotient, an overflowing
// sum) turns into a point2D!.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::pair {

// Field indexes of paths and pick.
enum field : int32_t { FIELD_X = 1, FIELD_Y = 2 };

inline int32_t x_of(const kiv_value* v) { return int32_t(v->data2); }
inline int32_t y_of(const kiv_value* v) { return int32_t(v->data3); }
inline kiv_value* make_at(kiv_value* cell, int32_t x, int32_t y) {
    *cell = kiv_value{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)};
    return cell;
}
kiv_value* make_in(kiv_value* block, int32_t x, int32_t y);
kiv_value* push(int32_t x, int32_t y);

// The arithmetic of the current call: the pair in the first argument cell,
// the other operand (pair!, integer!, float!, percent!) in the second; the
// result replaces the pair. integer! and float! call it with the operands
// swapped when the pair is their right operand.
void do_math(int32_t op);
// Negates both components of the pair in the first argument cell.
void negate();

void init();

}  // namespace kiv::pair
