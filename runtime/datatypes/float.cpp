// float!: 64-bit IEEE doubles, and the numeric core shared with percent! and
// time!.
#include "runtime/datatypes/float.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/integer.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::float_ {

kiv_value* make_in(kiv_value* block, double d) { return make_at(block::alloc_tail(block), d); }
kiv_value* push(double d) { return make_at(stack::push(), d); }
kiv_value* return_(double d) { return make_at(stack::arguments, d); }

bool integer_range_q(const kiv_value* v) {
    double d = get(v);
    return !(d <= 2147483647.0 && d >= -2147483648.0);
}

// Maps a double to an unsigned integer that grows with its value, so that
// the distance in units in the last place is a subtraction (0.0 and -0.0
// meet).
static uint64_t ordered_bits(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    const uint64_t sign = uint64_t(1) << 63;
    return bits & sign ? sign - (bits & ~sign) : sign + bits;
}

bool almost_equal_q(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < 2.220446049250313e-16) return true;
    uint64_t x = ordered_bits(a), y = ordered_bits(b);
    return (x > y ? x - y : y - x) <= 10;
}

double do_math(double x, double y, int32_t op) {
    switch (op) {
        case OP_ADD: return x + y;
        case OP_SUB: return x - y;
        case OP_MUL: return x * y;
        case OP_DIV: return x / y;
        case OP_REM:
            if (y * 0.0 == 0.0) return std::fmod(x, y);
            if (std::isnan(y)) return y;
            return std::isfinite(x) ? x : std::nan("");
        default:
            actions::fire_with_call(err::script::cannot_use, TYPE_FLOAT);
    }
}

// The double of a numeric operand.
static double number_of(const kiv_value* v) {
    uint32_t t = type_of(v);
    return t == TYPE_INTEGER || t == TYPE_CHAR ? double(integer::get_value(v)) : get(v);
}

void do_math_op(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    uint32_t l = type_of(left), r = type_of(right);
    bool refused = !(r == TYPE_INTEGER || r == TYPE_CHAR || r == TYPE_FLOAT || r == TYPE_PERCENT ||
                     r == TYPE_TIME) ||
                   (r == TYPE_CHAR && (l == TYPE_TIME || l == TYPE_PERCENT));
    if (refused) {
        kiv_value dt;
        datatype::make_at(&dt, r);
        fire(err::SCRIPT, err::script::invalid_type, &dt);
    }
    double result = do_math(number_of(left), number_of(right), op);
    uint32_t type = l == TYPE_TIME || r == TYPE_TIME ? TYPE_TIME
                    : l == TYPE_PERCENT              ? TYPE_PERCENT
                                                     : TYPE_FLOAT;
    make_at(left, result);
    cell::set_type(left, type);
}

void power() {
    kiv_value* base = stack::arguments;
    kiv_value* exponent = stack::arguments + 1;
    uint32_t t = type_of(exponent);
    if (t != TYPE_INTEGER && t != TYPE_FLOAT) actions::fire_expect_arg(t, 1);
    uint32_t type = type_of(base);
    make_at(base, std::pow(get(base), number_of(exponent)));
    cell::set_type(base, type);
}

int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    uint32_t t = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && type_of(value1) != t)
        return 1;
    double a = get(value1), b;
    switch (t) {
        case TYPE_INTEGER: b = double(integer::get_value(value2)); break;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: b = get(value2); break;
        default: return COMPARE_INCOMPARABLE;
    }
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
            return almost_equal_q(a, b) ? 0 : 1;
        case COMP_STRICT_EQUAL:
            return a == b ? 0 : 1;
        case COMP_SAME:
            return std::memcmp(&a, &b, sizeof a) == 0 ? 0 : 1;
        default:
            if (std::isnan(a) || std::isnan(b)) {
                if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
                if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
                return 0;
            }
            return a < b ? -1 : a > b ? 1 : 0;
    }
}

// Rounds a scaled value to a whole number by the first refinement that
// applies.
static double round_whole(double dec, bool even, bool down, bool half_down, bool floor,
                          bool ceiling, bool half_ceiling) {
    double v = std::fabs(dec);
    double h = std::floor(v) + 0.5;
    auto sign = [dec](double m) { return dec < 0 ? -m : m; };
    if (down) return sign(std::floor(v));
    if (floor) return std::floor(dec);
    if (ceiling) return std::ceil(dec);
    if (v > h) return sign(std::ceil(v));
    if (v < h) return sign(std::floor(v));
    if (even) return sign(std::fmod(v, 2.0) < 1.0 ? std::floor(v) : std::ceil(v));
    if (half_down) return sign(std::floor(v));
    if (half_ceiling) return std::ceil(dec);
    return sign(std::ceil(v));
}

kiv_value* round(kiv_value* value, kiv_value* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling) {
    if (scale && type_of(scale) == TYPE_MONEY) actions::fire_with_call(err::script::not_related, TYPE_MONEY);
    bool percent = type_of(value) == TYPE_PERCENT;
    double dec = get(value);
    double sc = percent ? 0.01 : 1.0;
    if (scale) {
        sc = std::fabs(number_of(scale));
        if (percent) sc /= 100.0;
    }
    if (sc < std::fabs(dec) * std::ldexp(1.0, -53)) return value;
    bool whole_scale = sc >= 1.0;
    int exponent = 0;
    if (whole_scale) {
        dec /= sc;
    } else {
        // A scale too small for its reciprocal to be finite is split into
        // mantissa and binary exponent first.
        double mantissa = std::frexp(sc, &exponent);
        if (exponent <= -1022) {
            sc = mantissa;
            dec = std::ldexp(dec, -exponent);
        } else {
            exponent = 0;
        }
        sc = 1.0 / sc;
        dec *= sc;
    }
    double r = round_whole(dec, even, down, half_down, floor, ceiling, half_ceiling);
    if (whole_scale) {
        r *= sc;
        if (std::fabs(r) == DBL_MAX) fire(err::MATH, err::math::overflow);
    } else {
        r = std::ldexp(r / sc, exponent);
    }
    uint32_t type = scale ? type_of(scale) : type_of(value);
    if (type == TYPE_INTEGER) {
        if (!(r < 2147483648.0 && r > -2147483649.0)) fire(err::MATH, err::math::overflow);
        integer::make_at(value, int32_t(r));
    } else {
        make_at(value, r);
        cell::set_type(value, type);
    }
    return value;
}

}  // namespace kiv::float_
