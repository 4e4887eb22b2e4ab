// float!: 64-bit IEEE doubles, and the numeric core shared with percent! and
// time!.
#include "runtime/datatypes/float.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/random.h"
#include "runtime/evaluator/tokenizer.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::float_ {

bool pretty_print_q = true;

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

// A pair on the right: the pair takes the left place and the number the
// right one, which only the operations whose operands may change places
// allow.
static void pair_on_right(int32_t op) {
    if (op == OP_SUB) actions::fire_not_related("subtract", TYPE_PAIR);
    if (op == OP_DIV) actions::fire_not_related("divide", TYPE_PAIR);
    if (op == OP_REM) actions::fire_not_related("remainder", TYPE_PAIR);
    std::swap(stack::arguments[0], stack::arguments[1]);
    pair::do_math(op);
}

void do_math_op(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    uint32_t l = type_of(left), r = type_of(right);
    if (l == TYPE_FLOAT && (r == TYPE_FLOAT || r == TYPE_INTEGER)) {
        double y = r == TYPE_FLOAT ? get(right) : double(integer::get_value(right));
        make_at(left, do_math(get(left), y, op));
        return;
    }
    // A time has no place in a pair.
    if (r == TYPE_PAIR && l != TYPE_TIME) {
        pair_on_right(op);
        return;
    }
    if (r == TYPE_MONEY) {
        money::do_math(op);
        return;
    }
    if (r == TYPE_TUPLE && l != TYPE_TIME) {
        tuple::do_math(op);
        return;
    }
    if ((r == TYPE_POINT2D || r == TYPE_POINT3D) && l != TYPE_TIME) {
        point::on_right(op);
        return;
    }
    if (r == TYPE_VECTOR && l != TYPE_TIME) {
        vector::do_math(op);
        return;
    }
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
        case TYPE_MONEY:
            // Money decides from its side; a NaN orders as against any number.
            if (std::isnan(a)) {
                b = a;
                break;
            }
            return -money::compare_float(value2, a, op);
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
    // A money! scale rounds through money!; a pair! scale has a component
    // for each of a pair's and none for a single number.
    if (scale && (type_of(scale) == TYPE_MONEY || type_of(scale) == TYPE_PAIR))
        actions::fire_with_call(err::script::not_related, type_of(scale));
    bool percent = type_of(value) == TYPE_PERCENT;
    double dec = get(value);
    double sc = percent ? 0.01 : 1.0;
    if (scale) {
        sc = std::fabs(number_of(scale));
        if (percent) sc /= 100.0;
    }
    if (sc < std::fabs(dec) * std::ldexp(1.0, -53)) return value;
    // Only a zero (or NaN) value gets here with a zero scale, whose
    // reciprocal below would make a NaN: it stays as it is, like every other
    // value rounded to a zero scale.
    if (sc == 0.0) return value;
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

double abs_bits(double d) {
    return std::bit_cast<double>(std::bit_cast<uint64_t>(d) & ~(uint64_t(1) << 63));
}

bool special_q(double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    const uint64_t exponent = 0x7FF0000000000000;
    return (bits & exponent) == exponent && (bits & 0x000FFFFFFFFFFFFF) != 0;
}

int32_t to_int_rounded(double d) {
    double r = std::trunc(d + FLOAT_BELOW_HALF);
    if (std::isnan(r)) return 0;
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return int32_t(r);
}

// Forming ---------------------------------------------------------------------

namespace {

void set_text(dtoa::formed& f, const char* text) {
    f.length = int(std::strlen(text));
    std::memcpy(f.text, text, size_t(f.length) + 1);
}

void print_digits(dtoa::formed& f, int digits, double d) {
    f.length = std::snprintf(f.text, sizeof f.text, "%.*g", digits, d);
}

// The digits of the first text and of the pretty correction, by kind.
int first_digits(int32_t kind) {
    switch (kind) {
        case FORM_FLOAT: return 16;
        case FORM_PERCENT: return 13;
        default: return 7;
    }
}
int corrected_digits(int32_t kind) {
    return kind == FORM_SHORT || kind == FORM_TIME || kind == FORM_POINT ? 5 : 14;
}

// A mantissa as long as the digits allow that ends in "01" or "99" shows
// the binary representation rather than the number meant: 0.1 + 0.7 prints
// as 0.7999999999999999.
bool binary_noise_q(const dtoa::formed& f) {
    const char* e = std::strchr(f.text, 'e');
    int n = e ? int(e - f.text) : f.length;
    const char* digits = f.text + (f.text[0] == '-' ? 1 : 0);
    // A leading "0." carries no digit of the number.
    int longest = !e && digits[0] == '0' ? 17 : 16;
    if (n <= longest) return false;
    char a = f.text[n - 2], b = f.text[n - 1];
    return (a == '0' && b == '1') || (a == '9' && b == '9');
}

// "e+020" and "e-007" become "e20" and "e-7".
void tidy_exponent(dtoa::formed& f) {
    char* e = std::strchr(f.text, 'e');
    if (!e) return;
    char* out = e + 1;
    char* p = out;
    if (*p == '-') out = ++p;
    else if (*p == '+') ++p;
    while (*p == '0' && p[1] != '\0') ++p;
    std::memmove(out, p, std::strlen(p) + 1);
    f.length = int(std::strlen(f.text));
}

// Inserts text at a position of the formed text.
void insert_text(dtoa::formed& f, int at, const char* text) {
    size_t n = std::strlen(text);
    std::memmove(f.text + at + n, f.text + at, size_t(f.length - at) + 1);
    std::memcpy(f.text + at, text, n);
    f.length += int(n);
}

}  // namespace

dtoa::formed form_float(double d, int32_t kind) {
    dtoa::formed f{};
    if (std::isnan(d)) {
        set_text(f, "1.#NaN");
        return f;
    }
    if (std::isinf(d)) {
        set_text(f, d < 0 ? "-1.#INF" : "1.#INF");
        return f;
    }
    bool percent = kind == FORM_PERCENT_SHORT || kind == FORM_PERCENT;
    if (pretty_print_q && std::fabs(d) < DBL_EPSILON) {
        set_text(f, percent ? "0%" : kind == FORM_POINT ? "0" : "0.0");
        return f;
    }
    if (kind == FORM_TIME) f = dtoa::form_precision(d, 6, false);
    else print_digits(f, first_digits(kind), d);
    if (pretty_print_q && binary_noise_q(f)) print_digits(f, corrected_digits(kind), d);
    tidy_exponent(f);
    if (percent) {
        insert_text(f, f.length, "%");
    } else if (kind != FORM_TIME && kind != FORM_POINT && !std::strchr(f.text, '.')) {
        const char* e = std::strchr(f.text, 'e');
        insert_text(f, e ? int(e - f.text) : f.length, ".0");
    }
    return f;
}

static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    dtoa::formed f = form_float(get(value), FORM_FLOAT);
    string::concatenate_literal(buffer, f.text);
    return part - f.length;
}

// Mold gives the shortest digits that read back to the same double.
static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value*,
                    int32_t part, int32_t) {
    dtoa::formed f = dtoa::form_precision(get(value), 0, true);
    string::concatenate_literal(buffer, f.text);
    return part - f.length;
}

// Arithmetic actions ----------------------------------------------------------

static void add() { do_math_op(OP_ADD); }
static void subtract() { do_math_op(OP_SUB); }
static void multiply() { do_math_op(OP_MUL); }
static void divide() { do_math_op(OP_DIV); }
static void remainder() { do_math_op(OP_REM); }

static void absolute() { cell::set_float(stack::arguments, abs_bits(get(stack::arguments))); }

// Subtracting from 0.0 keeps negate of 0.0 at 0.0.
static kiv_value* negate(kiv_value* value) {
    cell::set_float(value, 0.0 - get(value));
    return value;
}

// The parity of the whole part, however large: infinities and NaN are
// neither even nor odd.
static double parity(const kiv_value* value) { return std::fmod(std::trunc(get(value)), 2.0); }
static bool even_q(kiv_value* value) { return parity(value) == 0.0; }
static bool odd_q(kiv_value* value) { return std::fabs(parity(value)) == 1.0; }

// Random ----------------------------------------------------------------------

double random_double(double max, bool secure) {
    if (secure) {
        double r1 = random::secure_next();
        double r2 = random::secure_next();
        return max * (r2 + r1 / 2147483647.0) / 2147483648.0;
    }
    return max * (random::next() / 2147483647.0);
}

static void random(kiv_value* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(int32_t(value->data2 ^ value->data3));
        unset::return_();
        return;
    }
    cell::set_float(value, random_double(get(value), secure));
}

// Make and to -----------------------------------------------------------------

[[noreturn]] static void bad_to(uint32_t type, const kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, type);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
}

// Text from the cursor to the tail. A percent is read as the one value the
// text holds, so that "50%" is a half while "50" is fifty wholes.
static double from_string(kiv_value* spec, uint32_t type) {
    if (type == TYPE_PERCENT) {
        kiv_value loaded;
        lexer::load_single(spec, &loaded);
        switch (type_of(&loaded)) {
            case TYPE_FLOAT: case TYPE_PERCENT: return get(&loaded);
            case TYPE_INTEGER: return double(integer::get_value(&loaded));
            default: bad_to(type, spec);
        }
    }
    uint32_t count = string::ks_length_q(spec);
    int32_t error;
    double d = tokenizer::scan_float(string::ks_head(spec), unit_of(string::buffer_of(spec)),
                                     count, &error);
    if (error) bad_to(type, spec);
    return d;
}

// Up to eight bytes from the cursor, big-endian, as the bits of a double.
static double from_binary(const kiv_value* spec) {
    series_buffer* b = series::buffer(spec->data2);
    uint32_t length = series::used_units(b);
    uint32_t head = spec->data1 < length ? spec->data1 : length;
    uint32_t n = length - head < 8 ? length - head : 8;
    uint64_t bits = 0;
    for (uint32_t i = 0; i < n; i++) bits = bits << 8 | b->offset[head + i];
    return std::bit_cast<double>(bits);
}

// [mantissa exponent]: mantissa times ten to the whole part of the exponent.
static double from_block(kiv_value* spec, uint32_t type) {
    series_buffer* b = series::buffer(spec->data2);
    uint32_t length = series::used_units(b);
    if (spec->data1 >= length || length - spec->data1 != 2) bad_to(type, spec);
    kiv_value* cells = reinterpret_cast<kiv_value*>(b->offset) + spec->data1;
    for (int i = 0; i < 2; i++) {
        uint32_t t = type_of(&cells[i]);
        if (t != TYPE_INTEGER && t != TYPE_FLOAT) bad_to(TYPE_FLOAT, &cells[i]);
    }
    // The exponent is truncated as a double: any exponent, however large,
    // gives the power of ten it asks for (or an infinity) with no cast
    // out of range.
    return number_of(&cells[0]) * std::pow(10.0, std::trunc(number_of(&cells[1])));
}

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t type) {
    double d;
    switch (type_of(spec)) {
        case TYPE_MONEY:
            d = money::to_float(spec);
            break;
        case TYPE_INTEGER: case TYPE_CHAR:
            d = double(integer::get_value(spec));
            break;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
            d = get(spec);
            break;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF:
            d = from_string(spec, type);
            break;
        case TYPE_BINARY:
            d = from_binary(spec);
            break;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
            d = from_block(spec, type);
            break;
        default:
            bad_to(type, spec);
    }
    return cell::set_type(push(d), type);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_FLOAT, 0, "float!", {
        impl<SLOT_MAKE>(to),              // make
        impl<SLOT_RANDOM>(random),        // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(to),                // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        UNSUPPORTED,                      // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        impl<SLOT_ABSOLUTE>(absolute),    // absolute
        impl<SLOT_ADD>(add),              // add
        impl<SLOT_DIVIDE>(divide),        // divide
        impl<SLOT_MULTIPLY>(multiply),    // multiply
        impl<SLOT_NEGATE>(negate),        // negate
        impl<SLOT_POWER>(power),          // power
        impl<SLOT_REMAINDER>(remainder),  // remainder
        impl<SLOT_ROUND>(round),          // round
        impl<SLOT_SUBTRACT>(subtract),    // subtract
        impl<SLOT_EVEN_Q>(even_q),        // even?
        impl<SLOT_ODD_Q>(odd_q),          // odd?
        UNSUPPORTED,                      // and~
        UNSUPPORTED,                      // complement
        UNSUPPORTED,                      // or~
        UNSUPPORTED,                      // xor~
        UNSUPPORTED,                      // append
        UNSUPPORTED,                      // at
        UNSUPPORTED,                      // back
        UNSUPPORTED,                      // change
        UNSUPPORTED,                      // clear
        UNSUPPORTED,                      // copy
        UNSUPPORTED,                      // find
        UNSUPPORTED,                      // head
        UNSUPPORTED,                      // head?
        UNSUPPORTED,                      // index?
        UNSUPPORTED,                      // insert
        UNSUPPORTED,                      // length?
        UNSUPPORTED,                      // move
        UNSUPPORTED,                      // next
        UNSUPPORTED,                      // pick
        UNSUPPORTED,                      // poke
        UNSUPPORTED,                      // put
        UNSUPPORTED,                      // remove
        UNSUPPORTED,                      // reverse
        UNSUPPORTED,                      // select
        UNSUPPORTED,                      // sort
        UNSUPPORTED,                      // skip
        UNSUPPORTED,                      // swap
        UNSUPPORTED,                      // tail
        UNSUPPORTED,                      // tail?
        UNSUPPORTED,                      // take
        UNSUPPORTED,                      // trim
        UNSUPPORTED,                      // create
        UNSUPPORTED,                      // close
        UNSUPPORTED,                      // delete
        UNSUPPORTED,                      // modify
        UNSUPPORTED,                      // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        UNSUPPORTED,                      // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        UNSUPPORTED,                      // write
    });
}

}  // namespace kiv::float_
