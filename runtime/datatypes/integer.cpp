// integer!: 32-bit signed whole numbers. Arithmetic never wraps silently:
// overflowing sums and products and uneven quotients become float!.
#include "runtime/datatypes/integer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/random.h"
#include "runtime/evaluator/tokenizer.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::integer {

kiv_value* make_in(kiv_value* block, int32_t value) { return make_at(block::alloc_tail(block), value); }
kiv_value* push(int32_t value) { return make_at(stack::push(), value); }
kiv_value* return_(int32_t value) { return make_at(stack::arguments, value); }
int32_t get() { return get_value(stack::arguments); }
int32_t get_or_zero() { return type_of(stack::arguments) == TYPE_INTEGER ? get() : 0; }

int32_t abs(int32_t value) {
    if (value == INT32_MIN) fire(err::MATH, err::math::overflow);
    return value < 0 ? -value : value;
}

// Writes the decimal digits of a value backwards from `end`; returns the
// first character.
static char* digits_before(int32_t value, char* end) {
    // Two digits a division.
    static constexpr char PAIRS[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char* p = end;
    uint32_t n = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    while (n >= 100) {
        uint32_t pair = (n % 100) * 2;
        n /= 100;
        *--p = PAIRS[pair + 1];
        *--p = PAIRS[pair];
    }
    if (n >= 10) {
        *--p = PAIRS[n * 2 + 1];
        *--p = PAIRS[n * 2];
    } else {
        *--p = char('0' + n);
    }
    if (value < 0) *--p = '-';
    return p;
}

const char* form_signed(int32_t value) {
    static char buffer[12];
    buffer[11] = '\0';
    return digits_before(value, buffer + 11);
}

// A sum, difference or product that does not fit becomes the float! of the
// same operation on doubles.
static int32_t to_float(kiv_value* result, double value) {
    float_::make_at(result, value);
    return 0;
}

int32_t do_math(int32_t left, int32_t right, int32_t op, kiv_value* result) {
    int32_t r = 0;
    switch (op) {
        case OP_ADD:
            if (__builtin_add_overflow(left, right, &r) && result)
                return to_float(result, double(left) + double(right));
            break;
        case OP_SUB:
            if (__builtin_sub_overflow(left, right, &r) && result)
                return to_float(result, double(left) - double(right));
            break;
        case OP_MUL:
            if (__builtin_mul_overflow(left, right, &r) && result)
                return to_float(result, double(int64_t(left) * int64_t(right)));
            break;
        case OP_DIV:
            if (right == 0) fire(err::MATH, err::math::zero_divide);
            if (left == INT32_MIN && right == -1) fire(err::MATH, err::math::overflow);
            if (result && left % right != 0) return to_float(result, double(left) / double(right));
            r = left / right;
            break;
        case OP_REM:
            if (right == 0) fire(err::MATH, err::math::zero_divide);
            if (left == INT32_MIN && right == -1) fire(err::MATH, err::math::overflow);
            r = left % right;
            break;
        case OP_OR: r = left | right; break;
        case OP_AND: r = left & right; break;
        case OP_XOR: r = left ^ right; break;
        default: system::runtime_error(system::RT_NO_SWITCH);
    }
    if (result) result->data2 = uint32_t(r);
    return r;
}

// A pair on the right: the pair takes the left place and the integer the
// right one, so only the operations that allow the swap go on; a difference
// is the sum with the pair negated. A remainder would come out of the swap
// with the operands' roles exchanged, so it is refused like a quotient.
static void pair_on_right(int32_t op) {
    if (op == OP_DIV) actions::fire_not_related("divide", TYPE_INTEGER);
    if (op == OP_REM) actions::fire_not_related("remainder", TYPE_INTEGER);
    std::swap(stack::arguments[0], stack::arguments[1]);
    if (op == OP_SUB) {
        pair::negate();
        op = OP_ADD;
    }
    pair::do_math(op);
}

// The math actions dispatch on the right operand's type.
static void math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    switch (type_of(right)) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            do_math(get_value(left), get_value(right), op, left);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            float_::do_math_op(op);
            break;
        case TYPE_PAIR:
            pair_on_right(op);
            break;
        case TYPE_DATE:
            // A number of days added to a date; a date cannot be taken away.
            if (op != OP_ADD) actions::fire_not_related("subtract", TYPE_INTEGER);
            std::swap(stack::arguments[0], stack::arguments[1]);
            date::do_math(OP_ADD);
            break;
        case TYPE_MONEY:
            money::do_math(op);
            break;
        case TYPE_TUPLE:
            tuple::do_math(op);
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            point::on_right(op);
            break;
        case TYPE_VECTOR:
            vector::do_math(op);
            break;
        default: {
            kiv_value dt;
            datatype::make_at(&dt, type_of(right));
            fire(err::SCRIPT, err::script::invalid_type, &dt);
        }
    }
}

static void add() { math(OP_ADD); }
static void subtract() { math(OP_SUB); }
static void multiply() { math(OP_MUL); }
static void divide() { math(OP_DIV); }
static void remainder() { math(OP_REM); }
static void and_t() { math(OP_AND); }
static void or_t() { math(OP_OR); }
static void xor_t() { math(OP_XOR); }

static void absolute() { stack::arguments->data2 = uint32_t(abs(get())); }

static kiv_value* negate(kiv_value* value) {
    if (get_value(value) == INT32_MIN) fire(err::MATH, err::math::overflow);
    value->data2 = uint32_t(-get_value(value));
    return value;
}

static kiv_value* complement(kiv_value* value) {
    value->data2 = ~value->data2;
    return value;
}

static bool even_q(kiv_value* value) { return (value->data2 & 1) == 0; }
static bool odd_q(kiv_value* value) { return (value->data2 & 1) != 0; }

static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    char digits[12];
    const char* text = digits_before(get_value(value), digits + sizeof digits);
    auto length = uint32_t(digits + sizeof digits - text);
    string::concatenate_bytes(buffer, reinterpret_cast<const uint8_t*>(text), length);
    return part - int32_t(length);
}

static int32_t form_as_mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value* arg,
                            int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

// Exponentiation by squaring; an overflow hands the whole computation to the
// float power, except a last squaring whose result is never used.
static void power() {
    kiv_value* base = stack::arguments;
    kiv_value* exponent = stack::arguments + 1;
    uint32_t t = type_of(exponent);
    if (t != TYPE_INTEGER && t != TYPE_FLOAT) actions::fire_expect_arg(t, 1);
    int32_t e = t == TYPE_INTEGER ? get_value(exponent) : 0;
    if (t == TYPE_FLOAT || e < 0) {
        float_::make_at(base, double(get_value(base)));
        float_::power();
        return;
    }
    int32_t b = get_value(base), result = 1;
    while (e != 0) {
        if ((e & 1) && __builtin_mul_overflow(result, b, &result)) {
            float_::make_at(base, double(get_value(base)));
            float_::power();
            return;
        }
        e >>= 1;
        if (e != 0 && __builtin_mul_overflow(b, b, &b)) {
            float_::make_at(base, double(get_value(base)));
            float_::power();
            return;
        }
    }
    base->data2 = uint32_t(result);
}

kiv_value* round(kiv_value* value, kiv_value* scale, bool even, bool down, bool half_down, bool floor,
                 bool ceiling, bool half_ceiling) {
    if (scale && type_of(scale) == TYPE_MONEY) actions::fire_with_call(err::script::not_related, TYPE_MONEY);
    int32_t v = get_value(value);
    if (v == INT32_MIN) return value;
    int32_t sc = 1;
    if (scale) {
        if (type_of(scale) != TYPE_INTEGER) {
            float_::make_at(value, double(v));
            return float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
        }
        sc = abs(get_value(scale));
        if (sc == 0) return value;
    }
    int32_t n = v < 0 ? -v : v;
    int32_t r = n % sc;
    if (r == 0) return value;
    int32_t d = sc - r;
    int32_t toward = v < 0 ? -(n - r) : n - r;
    auto away = [&] {
        int32_t u;
        if (__builtin_add_overflow(n, d, &u)) fire(err::MATH, err::math::overflow);
        return v < 0 ? -u : u;
    };
    int32_t out;
    if (down) out = toward;
    else if (floor) out = v < 0 ? away() : toward;
    else if (ceiling) out = v < 0 ? toward : away();
    else if (r < d) out = toward;
    else if (r > d) out = away();
    else if (even) out = (n / sc) % 2 == 0 ? toward : away();
    else if (half_down) out = toward;
    else if (half_ceiling) out = v < 0 ? toward : away();
    else out = away();
    value->data2 = uint32_t(out);
    return value;
}

static void random(kiv_value* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(get_value(value));
        unset::return_();
        return;
    }
    int32_t n = get_value(value);
    value->data2 = uint32_t(n == 0 ? 0 : random::int_(secure, n));
}

[[noreturn]] static void bad_to(kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_INTEGER);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
}

// An issue's name read as up to eight hexadecimal digits: #FFFFFFFF is -1.
static int32_t from_issue(kiv_value* spec) {
    uint32_t length = 0;
    const char* name = symbol::name_of(word::symbol_of(spec), &length);
    if (length > 8) fire(err::SCRIPT, err::script::invalid_data, spec);
    uint32_t n = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint32_t c = uint8_t(name[i]) & 0x7F;
        uint32_t digit = c >= '0' && c <= '9' ? c - '0'
                         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                : 16;
        if (digit == 16) fire(err::SCRIPT, err::script::invalid_data, spec);
        n = n << 4 | digit;
    }
    return int32_t(n);
}

// The first four bytes from the position, big-endian; fewer give a smaller
// number.
static int32_t from_binary(kiv_value* spec) {
    const uint8_t* p = binary::ks_head(spec);
    uint32_t count = std::min<uint32_t>(4, binary::ks_length_q(spec));
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; i++) n = n << 8 | p[i];
    return int32_t(n);
}

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t) {
    switch (type_of(spec)) {
        case TYPE_ISSUE:
            return push(from_issue(spec));
        case TYPE_BINARY:
            return push(from_binary(spec));
        case TYPE_INTEGER:
            return spec;
        case TYPE_CHAR:
            return push(get_value(spec));
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            if (float_::integer_range_q(spec)) {
                kiv_value dt;
                datatype::make_at(&dt, TYPE_INTEGER);
                fire(err::SCRIPT, err::script::type_limit, &dt);
            }
            return push(int32_t(float_::get(spec)));
        case TYPE_TIME:
            return push(int32_t(float_::get(spec) + 0.5));
        case TYPE_DATE: {
            // Seconds since 1970; past 2038 they no longer fit.
            int64_t seconds = date::to_epoch(spec);
            if (seconds < INT32_MIN || seconds > INT32_MAX) {
                kiv_value dt;
                datatype::make_at(&dt, TYPE_INTEGER);
                fire(err::SCRIPT, err::script::type_limit, &dt);
            }
            return push(int32_t(seconds));
        }
        case TYPE_MONEY:
            return push(money::to_integer(spec));
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: {
            series_buffer* b = series::buffer(spec->data2);
            uint32_t unit = unit_of(b);
            uint32_t length = series::used_units(b);
            uint32_t head = spec->data1 < length ? spec->data1 : length;
            int32_t error;
            int32_t n = tokenizer::scan_integer(b->offset + head * unit, unit, length - head, &error);
            if (error) bad_to(spec);
            return push(n);
        }
        default:
            bad_to(spec);
    }
}

static kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    if (type_of(spec) == TYPE_LOGIC) return push(logic::get(spec) ? 1 : 0);
    return to(proto, spec, type);
}

static int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    uint32_t t = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_INTEGER) return 1;
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_CHAR: {
            int32_t a = get_value(value1), b = get_value(value2);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: {
            // Compared as a double in place, then given back its value.
            kiv_value saved = *value1;
            float_::make_at(value1, double(get_value(value1)));
            int32_t r = float_::compare(value1, value2, op);
            *value1 = saved;
            return r;
        }
        case TYPE_MONEY: {
            kiv_value m;
            money::from_integer(&m, get_value(value1));
            return money::compare(&m, value2, op);
        }
        default:
            return COMPARE_INCOMPARABLE;
    }
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_INTEGER, 0, "integer!", {
        impl<SLOT_MAKE>(make),              // make
        impl<SLOT_RANDOM>(random),          // random
        UNSUPPORTED,                        // reflect
        impl<SLOT_TO>(to),                  // to
        impl<SLOT_FORM>(form),              // form
        impl<SLOT_MOLD>(form_as_mold),      // mold
        UNSUPPORTED,                        // eval-path
        UNSUPPORTED,                        // (empty)
        impl<SLOT_COMPARE>(compare),        // compare
        impl<SLOT_ABSOLUTE>(absolute),      // absolute
        impl<SLOT_ADD>(add),                // add
        impl<SLOT_DIVIDE>(divide),          // divide
        impl<SLOT_MULTIPLY>(multiply),      // multiply
        impl<SLOT_NEGATE>(negate),          // negate
        impl<SLOT_POWER>(power),            // power
        impl<SLOT_REMAINDER>(remainder),    // remainder
        impl<SLOT_ROUND>(round),            // round
        impl<SLOT_SUBTRACT>(subtract),      // subtract
        impl<SLOT_EVEN_Q>(even_q),          // even?
        impl<SLOT_ODD_Q>(odd_q),            // odd?
        impl<SLOT_AND_T>(and_t),            // and~
        impl<SLOT_COMPLEMENT>(complement),  // complement
        impl<SLOT_OR_T>(or_t),              // or~
        impl<SLOT_XOR_T>(xor_t),            // xor~
        UNSUPPORTED,                        // append
        UNSUPPORTED,                        // at
        UNSUPPORTED,                        // back
        UNSUPPORTED,                        // change
        UNSUPPORTED,                        // clear
        UNSUPPORTED,                        // copy
        UNSUPPORTED,                        // find
        UNSUPPORTED,                        // head
        UNSUPPORTED,                        // head?
        UNSUPPORTED,                        // index?
        UNSUPPORTED,                        // insert
        UNSUPPORTED,                        // length?
        UNSUPPORTED,                        // move
        UNSUPPORTED,                        // next
        UNSUPPORTED,                        // pick
        UNSUPPORTED,                        // poke
        UNSUPPORTED,                        // put
        UNSUPPORTED,                        // remove
        UNSUPPORTED,                        // reverse
        UNSUPPORTED,                        // select
        UNSUPPORTED,                        // sort
        UNSUPPORTED,                        // skip
        UNSUPPORTED,                        // swap
        UNSUPPORTED,                        // tail
        UNSUPPORTED,                        // tail?
        UNSUPPORTED,                        // take
        UNSUPPORTED,                        // trim
        UNSUPPORTED,                        // create
        UNSUPPORTED,                        // close
        UNSUPPORTED,                        // delete
        UNSUPPORTED,                        // modify
        UNSUPPORTED,                        // open
        UNSUPPORTED,                        // open?
        UNSUPPORTED,                        // query
        UNSUPPORTED,                        // read
        UNSUPPORTED,                        // rename
        UNSUPPORTED,                        // update
        UNSUPPORTED,                        // write
    });
}

}  // namespace kiv::integer
