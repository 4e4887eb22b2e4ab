// tuple!: small unsigned components that saturate. Whatever a computation
// gives, a component ends clamped to 0..255: an overflowing integer result
// becomes 255 when positive and 0 otherwise, a float result is clamped in
// double precision before it is truncated (NaN gives 0).
#include "runtime/datatypes/tuple.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/random.h"
#include "runtime/stack.h"

namespace kiv::tuple {

kiv_value* make_at(kiv_value* cell, uint32_t length, const uint8_t* bytes) {
    uint32_t n = std::min(length, MAX_LENGTH);
    *cell = kiv_value{TYPE_TUPLE, 0, 0, 0};
    std::memcpy(bytes_of(cell), bytes, n);
    set_length(cell, std::max(n, MIN_LENGTH));
    return cell;
}
kiv_value* push(uint32_t length, const uint8_t* bytes) { return make_at(stack::push(), length, bytes); }
kiv_value* make_in(kiv_value* block, uint32_t length, const uint8_t* bytes) {
    return make_at(block::alloc_tail(block), length, bytes);
}

bool zero_q(const kiv_value* t) { return t->data1 == 0 && t->data2 == 0 && t->data3 == 0; }

namespace {

[[noreturn]] void fire_typed(uint32_t id, const kiv_value* v) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_TUPLE);
    fire(err::SCRIPT, id, &dt, v);
}
[[noreturn]] void bad_to(const kiv_value* spec) { fire_typed(err::script::bad_to_arg, spec); }

[[noreturn]] void invalid_type(const kiv_value* v) {
    kiv_value dt;
    datatype::make_at(&dt, type_of(v));
    fire(err::SCRIPT, err::script::invalid_type, &dt);
}

uint8_t clamp_integer(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// Clamping before the conversion keeps huge values and NaN defined.
uint8_t clamp_double(double d) {
    if (std::isnan(d)) return 0;
    return uint8_t(std::trunc(std::clamp(d, 0.0, 255.0)));
}

// One component against an integer by the integer rules; an overflow
// saturates by its sign. A quotient is truncated.
uint8_t combine(int32_t a, int32_t b, int32_t op) {
    if (op == OP_DIV || op == OP_REM) {
        if (b == 0) fire(err::MATH, err::math::zero_divide);
        // A component is never the smallest integer: no overflow here.
        return clamp_integer(op == OP_DIV ? a / b : a % b);
    }
    kiv_value r{TYPE_INTEGER, 0, 0, 0};
    int32_t v = integer::do_math(a, b, op, &r);
    if (type_of(&r) == TYPE_FLOAT) return float_::get(&r) > 0 ? 255 : 0;
    return clamp_integer(v);
}

}  // namespace

// Arithmetic ---------------------------------------------------------------------

void do_math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    if (type_of(left) != TYPE_TUPLE) {
        // A number on the left: only the operations that allow its place to
        // change go on. A remainder taken the other way round would be a
        // different number, so it is refused like a quotient.
        if (op == OP_SUB) actions::fire_not_related("subtract", type_of(left));
        if (op == OP_DIV) actions::fire_not_related("divide", type_of(left));
        if (op == OP_REM) actions::fire_not_related("remainder", type_of(left));
        std::swap(*left, *right);
    }
    uint32_t n = length_of(left);
    uint8_t* a = bytes_of(left);
    switch (type_of(right)) {
        case TYPE_TUPLE: {
            uint32_t m = std::max(n, length_of(right));
            const uint8_t* b = bytes_of(right);
            for (uint32_t i = 0; i < m; i++) a[i] = combine(a[i], b[i], op);
            set_length(left, m);
            break;
        }
        case TYPE_INTEGER:
        case TYPE_CHAR: {
            int32_t b = integer::get_value(right);
            for (uint32_t i = 0; i < n; i++) a[i] = combine(a[i], b, op);
            break;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            if (op >= OP_OR) invalid_type(right);
            double f = float_::get(right);
            for (uint32_t i = 0; i < n; i++) a[i] = clamp_double(float_::do_math(double(a[i]), f, op));
            break;
        }
        default: invalid_type(right);
    }
}

static void add() { do_math(OP_ADD); }
static void subtract() { do_math(OP_SUB); }
static void multiply() { do_math(OP_MUL); }
static void divide() { do_math(OP_DIV); }
static void remainder() { do_math(OP_REM); }
static void and_t() { do_math(OP_AND); }
static void or_t() { do_math(OP_OR); }
static void xor_t() { do_math(OP_XOR); }

static kiv_value* complement(kiv_value* t) {
    uint8_t* a = bytes_of(t);
    for (uint32_t i = 0; i < length_of(t); i++) a[i] = uint8_t(~a[i]);
    return t;
}

static int32_t length_q(kiv_value* t) { return int32_t(length_of(t)); }

static kiv_value* reverse(kiv_value* t, kiv_value* part, kiv_value*) {
    uint32_t n = length_of(t);
    if (!actions::absent_q(part)) {
        if (type_of(part) != TYPE_INTEGER || integer::get_value(part) < 0 ||
            uint32_t(integer::get_value(part)) > n) {
            kiv_value word = actions::refinement_word("part");
            fire(err::SCRIPT, err::script::invalid_refine_arg, &word, part);
        }
        n = uint32_t(integer::get_value(part));
    }
    std::reverse(bytes_of(t), bytes_of(t) + n);
    return t;
}

static void random(kiv_value* t, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(int32_t(t->data1 ^ std::rotl(t->data2, 11) ^ std::rotl(t->data3, 22)));
        unset::return_();
        return;
    }
    uint8_t* a = bytes_of(t);
    for (uint32_t i = 0; i < length_of(t); i++) a[i] = uint8_t(random::int_(secure, a[i] + 1) - 1);
}

// Comparison ---------------------------------------------------------------------

// Missing components count as 0, so 1.2.3 equals 1.2.3.0.
static int32_t compare(kiv_value* t1, kiv_value* t2, int32_t) {
    if (type_of(t2) != TYPE_TUPLE) return COMPARE_INCOMPARABLE;
    uint32_t m = std::max(length_of(t1), length_of(t2));
    const uint8_t *a = bytes_of(t1), *b = bytes_of(t2);
    for (uint32_t i = 0; i < m; i++)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// Forming ------------------------------------------------------------------------

static int32_t form(kiv_value* t, kiv_value* buffer, kiv_value*, int32_t part) {
    char text[64];
    int32_t n = 0;
    for (uint32_t i = 0; i < length_of(t); i++)
        n += std::snprintf(text + n, sizeof text - size_t(n), i ? ".%u" : "%u", bytes_of(t)[i]);
    string::concatenate_literal(buffer, text);
    return part - n;
}

static int32_t mold(kiv_value* t, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part, int32_t) {
    return form(t, buffer, arg, part);
}

// Make and to --------------------------------------------------------------------

static kiv_value* from_block(kiv_value* spec) {
    uint32_t length = block::length_all(spec);
    uint32_t head = std::min(spec->data1, length);
    if (length - head > MAX_LENGTH) bad_to(spec);
    uint8_t out[MAX_LENGTH] = {};
    for (uint32_t i = 0; i < length - head; i++) {
        const kiv_value* v = block::cells(spec) + head + i;
        double d;
        switch (type_of(v)) {
            case TYPE_INTEGER: case TYPE_CHAR: d = double(integer::get_value(v)); break;
            case TYPE_FLOAT: d = std::trunc(float_::get(v)); break;
            default: bad_to(spec);
        }
        if (!(d >= 0 && d <= 255)) bad_to(spec);
        out[i] = uint8_t(d);
    }
    return push(length - head, out);
}

static kiv_value* from_binary(kiv_value* spec) {
    kiv_value b = *spec;
    uint32_t n = std::min(string::ks_length_q(&b), MAX_LENGTH);
    return push(n, string::ks_head(&b));
}

static int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? int32_t(c - 'a' + 10) : -1;
}

// The issue's name as hexadecimal byte pairs: #FF0000 is 255.0.0.
static kiv_value* from_issue(kiv_value* spec) {
    kiv_value name{TYPE_STRING, 0, symbol::get(word::symbol_of(spec))->data2, 0};
    uint32_t n = string::ks_length_q(&name);
    // More than twelve bytes have no room in the cell.
    if (n > 2 * MAX_LENGTH) bad_to(spec);
    uint8_t out[MAX_LENGTH] = {};
    const uint8_t* p = string::ks_head(&name);
    uint32_t unit = series::unit_of_value(&name);
    for (uint32_t i = 0; i < n; i += 2) {
        int32_t hi = hex_digit(string::get_char(p + i * unit, unit));
        int32_t lo = i + 1 < n ? hex_digit(string::get_char(p + (i + 1) * unit, unit)) : -1;
        if (hi < 0 || lo < 0) fire(err::SCRIPT, err::script::invalid_data, spec);
        out[i / 2] = uint8_t(hi << 4 | lo);
    }
    return push(n / 2, out);
}

static kiv_value* from_text(kiv_value* spec) {
    kiv_value* loaded = lexer::load_single(spec, stack::push());
    if (type_of(loaded) != TYPE_TUPLE) bad_to(spec);
    return loaded;
}

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t) {
    switch (type_of(spec)) {
        case TYPE_TUPLE: return spec;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: return from_block(spec);
        case TYPE_BINARY: return from_binary(spec);
        case TYPE_ISSUE: return from_issue(spec);
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
            return from_text(spec);
        default: bad_to(spec);
    }
}

// Paths and pick -----------------------------------------------------------------

static int32_t index_of(const kiv_value* t, const kiv_value* element) {
    if (type_of(element) != TYPE_INTEGER) fire(err::SCRIPT, err::script::out_of_range, element);
    int32_t i = integer::get_value(element);
    if (i < 1 || uint32_t(i) > length_of(t)) fire(err::SCRIPT, err::script::out_of_range, element);
    return i;
}

// Setting a component changes the tuple where it is kept; none cuts it
// there (never below three components).
static kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value*,
                            kiv_value* gparent, kiv_value* p_item, int32_t, bool, bool, bool, bool notify) {
    int32_t i = index_of(parent, element);
    if (!value) return integer::push(bytes_of(parent)[i - 1]);
    kiv_value old = *parent;
    switch (type_of(value)) {
        case TYPE_INTEGER:
            bytes_of(parent)[i - 1] = clamp_integer(integer::get_value(value));
            break;
        case TYPE_NONE: {
            uint8_t* a = bytes_of(parent);
            std::fill(a + i - 1, a + MAX_LENGTH, 0);
            set_length(parent, std::max(uint32_t(i - 1), MIN_LENGTH));
            break;
        }
        default: invalid_type(value);
    }
    if (notify && gparent && type_of(gparent) == TYPE_OBJECT) {
        kiv_value changed = *parent;
        object::fire_on_change(gparent, p_item, &old, &changed);
    }
    return value;
}

static kiv_value* pick(kiv_value* t, int32_t, kiv_value* index_cell) {
    return integer::push(bytes_of(t)[index_of(t, index_cell) - 1]);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_TUPLE, 0, "tuple!", {
        impl<SLOT_MAKE>(to),              // make
        impl<SLOT_RANDOM>(random),        // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(to),                // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        UNSUPPORTED,                      // absolute
        impl<SLOT_ADD>(add),              // add
        impl<SLOT_DIVIDE>(divide),        // divide
        impl<SLOT_MULTIPLY>(multiply),    // multiply
        UNSUPPORTED,                      // negate
        UNSUPPORTED,                      // power
        impl<SLOT_REMAINDER>(remainder),  // remainder
        UNSUPPORTED,                      // round
        impl<SLOT_SUBTRACT>(subtract),    // subtract
        UNSUPPORTED,                      // even?
        UNSUPPORTED,                      // odd?
        impl<SLOT_AND_T>(and_t),          // and~
        impl<SLOT_COMPLEMENT>(complement),  // complement
        impl<SLOT_OR_T>(or_t),            // or~
        impl<SLOT_XOR_T>(xor_t),          // xor~
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
        impl<SLOT_LENGTH_Q>(length_q),    // length?
        UNSUPPORTED,                      // move
        UNSUPPORTED,                      // next
        impl<SLOT_PICK>(pick),            // pick
        UNSUPPORTED,                      // poke
        UNSUPPORTED,                      // put
        UNSUPPORTED,                      // remove
        impl<SLOT_REVERSE>(reverse),      // reverse
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

}  // namespace kiv::tuple
