#pragma once
// The operators met in nearly every loop and recursion (+ - * and the
// comparisons), computed in place between two numbers, with no
// call frame or walk over an argument list.
#include <cstdint>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/evaluator/natives.h"
#include "runtime/value.h"

namespace kiv::interpreter {

// A quick operator's code: the action's OP_ code for + - *, QUICK_COMPARE
// plus the COMP_ code for a comparison.
constexpr int32_t QUICK_COMPARE = 16;

// The comparison code of a native that an operator wraps, or -1.
inline int32_t comparison_of(natives::native_fn f) {
    if (f == natives::lesser_q) return COMP_LESSER;
    if (f == natives::greater_q) return COMP_GREATER;
    if (f == natives::lesser_or_equal_q) return COMP_LESSER_EQUAL;
    if (f == natives::greater_or_equal_q) return COMP_GREATER_EQUAL;
    if (f == natives::equal_q) return COMP_EQUAL;
    if (f == natives::not_equal_q) return COMP_NOT_EQUAL;
    return -1;
}

// The quick code of an operator, or -1 when it is not one of them.
inline int32_t quick_op(const kiv_value* op) {
    if (op_wrapped_type(op) == TYPE_ACTION) {
        return op->data1 == SLOT_ADD ? OP_ADD : op->data1 == SLOT_SUBTRACT ? OP_SUB
             : op->data1 == SLOT_MULTIPLY ? OP_MUL : -1;
    }
    if (op_wrapped_type(op) != TYPE_NATIVE) return -1;
    int32_t code = comparison_of(natives::table[op->data1 - 1]);
    return code < 0 ? -1 : QUICK_COMPARE + code;
}

inline bool number_q(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT; }

// A comparison of two numbers of one type, as the compare action answers
// it: integers by value; floats ordered as the processor orders them (a NaN
// on either side is neither less nor greater). Float equality allows a
// tolerance, so it takes the general way. -1: not answered here.
template <typename T>
int32_t ordered(int32_t code, T a, T b) {
    switch (code) {
        case COMP_LESSER: return a < b;
        case COMP_GREATER: return a > b;
        case COMP_LESSER_EQUAL: return a <= b;
        case COMP_GREATER_EQUAL: return a >= b;
        default: return -1;
    }
}

inline int32_t quick_compare(int32_t code, const kiv_value* left, const kiv_value* right) {
    if (type_of(left) == TYPE_FLOAT) return ordered(code, float_::get(left), float_::get(right));
    int32_t a = integer::get_value(left), b = integer::get_value(right);
    if (code == COMP_EQUAL) return a == b;
    if (code == COMP_NOT_EQUAL) return a != b;
    return ordered(code, a, b);
}

// A number operand as a double, as the float actions take an integer.
inline double number_value(const kiv_value* v) {
    return type_of(v) == TYPE_INTEGER ? double(integer::get_value(v)) : float_::get(v);
}

// The quick operation on two numbers into `result` (which may be `left`):
// integers stay integers (a float past their range), a float on either side
// makes a float of both. Comparisons take two numbers of one type. False
// when the general call must answer.
[[gnu::always_inline]] inline bool quick_values(int32_t quick, const kiv_value* left, const kiv_value* right,
                                                kiv_value* result) {
    uint32_t lt = type_of(left), rt = type_of(right);
    if (quick >= QUICK_COMPARE) {
        if (lt != rt || !number_q(lt)) return false;
        int32_t answer = quick_compare(quick - QUICK_COMPARE, left, right);
        if (answer < 0) return false;
        *result = answer ? true_value : false_value;
    } else if (lt == TYPE_INTEGER && rt == TYPE_INTEGER) {
        int32_t a = integer::get_value(left), b = integer::get_value(right), r;
        bool overflow = quick == OP_ADD ? __builtin_add_overflow(a, b, &r)
                      : quick == OP_SUB ? __builtin_sub_overflow(a, b, &r) : __builtin_mul_overflow(a, b, &r);
        integer::make_at(result, r);
        if (overflow) integer::do_math(a, b, quick, result);  // becomes a float, as the action does
    } else if (lt == TYPE_FLOAT && rt == TYPE_FLOAT) {
        float_::make_at(result, float_::do_math(float_::get(left), float_::get(right), quick));
    } else if (number_q(lt) && number_q(rt)) {
        float_::make_at(result, float_::do_math(number_value(left), number_value(right), quick));
    } else {
        return false;
    }
    return true;
}

// Evaluates an expression that is a plain start (a literal, a word's plain
// value or an object's field) followed only by operators that compute in
// place between numbers: nothing is called, raised or traced, so the frame
// the general way pushes for errors and callbacks is not needed. The value
// is left at `slot` (then the top); null, with the stack as it was, when
// the expression has another shape.
kiv_value* quick_value(kiv_value* pos, kiv_value* end, kiv_value* slot);

// The call of a quick operator (at pos, its left operand at saved_top)
// whose right operand needs evaluating: the general call's frame, checks
// and events, with the quick operation in place of the dispatch. False when
// its argument list is not the usual two evaluated values (nothing is done
// then).
bool call_quick_op(const kiv_value* op, int32_t quick, kiv_value*& pos, kiv_value* end, const kiv_value* code,
                   kiv_value* saved_top, bool sub);

}  // namespace kiv::interpreter
