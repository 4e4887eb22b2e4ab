#pragma once
// float!: the IEEE 754 double (in payload words 2 and 3), and the numeric
// engine that percent! and time! share.
#include "runtime/value.h"

namespace kiv::float_ {

inline double get(const kiv_value* v) { return cell::get_float(v); }
inline kiv_value* make_at(kiv_value* cell, double d) {
    cell->header = TYPE_FLOAT;
    cell->data1 = 0;
    cell::set_float(cell, d);
    return cell;
}
kiv_value* make_in(kiv_value* block, double d);
kiv_value* push(double d);
kiv_value* return_(double d);  // into the current result slot

// True when the double cannot become an integer!: above 2147483647.0, below
// -2147483648.0, or NaN.
bool integer_range_q(const kiv_value* v);
// Equality within 10 units in the last place.
bool almost_equal_q(double a, double b);
// The arithmetic core on doubles.
double do_math(double x, double y, int32_t op);

// Operations that integer! hands over when a float takes part. Each works on
// the current call's arguments (left in arguments[0], right in arguments[1]).
void do_math_op(int32_t op);  // the operand dispatcher: result type by operands
void power();
kiv_value* round(kiv_value* value, kiv_value* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling);
int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op);

void init();

}  // namespace kiv::float_
