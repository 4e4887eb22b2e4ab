#pragma once
// float!: the IEEE 754 double (in payload words 2 and 3), and the numeric
// engine that percent! and time! share.
#include "runtime/float_text.h"
#include "runtime/value.h"

namespace kiv::float_ {

// The text kinds of form_float: each caller's digit count and decoration.
enum form_kind : int32_t {
    FORM_SHORT = 0,          // 7 digits, ".0" added
    FORM_FLOAT = 1,          // float! values and float vector elements
    FORM_PERCENT_SHORT = 2,  // a percentage (the fraction times 100) to 7 digits, "%" added
    FORM_PERCENT = 3,        // percent! values (the fraction times 100), "%" added
    FORM_TIME = 4,           // the seconds of time! values, 6 digits, no point added
    FORM_POINT = 5,          // point2D! and point3D! coordinates
};

// Whether form hides binary noise (0.1 + 0.2 forms as 0.3); set from
// system/options/float/pretty?.
extern bool pretty_print_q;

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

// The double with its sign bit cleared (NaN included).
double abs_bits(double d);
// True for NaN.
bool special_q(double d);
// A whole pixel: adds just under a half and truncates toward zero, so 0.5
// gives 1 while 0.49999999999999994, -0.5 and -0.6 give 0. Values beyond the
// 32-bit range give its nearest end, NaN 0.
int32_t to_int_rounded(double d);

// The formed text of a double in the layout of a kind.
dtoa::formed form_float(double d, int32_t kind);
// A random double from 0 to max, both included.
double random_double(double max, bool secure);

// Operations that integer! hands over when a float takes part. Each works on
// the current call's arguments (left in arguments[0], right in arguments[1]).
void do_math_op(int32_t op);  // the operand dispatcher: result type by operands
void power();
kiv_value* round(kiv_value* value, kiv_value* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling);
int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op);

void init();

}  // namespace kiv::float_
