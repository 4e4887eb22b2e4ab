#pragma once
// point2D! and point3D!: two or three 32-bit floats in payload words 1 to 3,
// for geometry with fractions. Every computation widens the components to
// doubles and stores the result back as 32-bit floats.
#include <bit>
#include <cmath>
#include <cstdint>

#include "runtime/value.h"

namespace kiv::point {

// A double rounded to a single; beyond the singles' range it is an
// infinity, as IEEE rounding makes it (a plain conversion would be undefined
// there).
inline float to_single(double d) {
    constexpr double LIMIT = 3.4028235677973366e38;  // the largest single plus half its last unit
    if (d >= LIMIT) return HUGE_VALF;
    if (d <= -LIMIT) return -HUGE_VALF;
    return float(d);
}
inline float component(const kiv_value* p, uint32_t i) { return std::bit_cast<float>((&p->data1)[i]); }
inline void set_component(kiv_value* p, uint32_t i, double d) {
    (&p->data1)[i] = std::bit_cast<uint32_t>(to_single(d));
}
inline uint32_t dimensions_of(uint32_t type) { return type == TYPE_POINT3D ? 3 : 2; }

// A point of the type (point2D! or point3D!) from doubles; z is ignored for
// point2D!.
kiv_value* make_at(kiv_value* cell, uint32_t type, double x, double y, double z = 0.0);
kiv_value* push(uint32_t type, double x, double y, double z = 0.0);
kiv_value* make_in(kiv_value* block, uint32_t type, double x, double y, double z = 0.0);

// The arithmetic of the current call: the point in the first argument cell
// (integer!, float! and pair! put it there when it was their right
// operand), the other operand in the second; the result replaces the first.
void do_math(int32_t op);
// The same with the point in the second argument cell and a number (or a
// pair, for point2D!) in the first: the first becomes a point of the same
// kind, so each operand keeps its side (10 - (1, 2) is (9, 8)).
void on_right(int32_t op);

void init();

}  // namespace kiv::point
