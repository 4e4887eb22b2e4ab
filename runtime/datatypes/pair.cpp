// pair!: two 32-bit integers. Arithmetic runs each component through the
// integer rules and never wraps: a component that leaves the integers (an
// overflow, an uneven quotient, a product by a fraction) makes the whole
// result a point2D!.
#include "runtime/datatypes/pair.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/random.h"
#include "runtime/stack.h"

namespace kiv::pair {

kiv_value* make_in(kiv_value* block, int32_t x, int32_t y) { return make_at(block::alloc_tail(block), x, y); }
kiv_value* push(int32_t x, int32_t y) { return make_at(stack::push(), x, y); }

namespace {

// Every result with fractions is a point2D!, which this runtime does not
// have yet: those operations stop here.
[[noreturn]] void as_point2D() { fire(err::INTERNAL, err::internal::not_done); }

[[noreturn]] void invalid_type(const kiv_value* v) {
    kiv_value dt;
    datatype::make_at(&dt, type_of(v));
    fire(err::SCRIPT, err::script::invalid_type, &dt);
}

[[noreturn]] void bad_to(const kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_PAIR);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
}

bool in_integer_range_q(double d) { return d > -2147483649.0 && d < 2147483648.0; }

// The component of a word (x or y) or of an index (1 or 2); 0 for anything
// else.
int32_t field_of(const kiv_value* selector) {
    uint32_t t = type_of(selector);
    if (t == TYPE_INTEGER) {
        int32_t n = integer::get_value(selector);
        return n == FIELD_X || n == FIELD_Y ? n : 0;
    }
    if (t < TYPE_WORD || t > TYPE_GET_WORD) return 0;
    int32_t symbol = symbol::resolve(word::symbol_of(selector));
    if (symbol == symbol::resolve(symbol::make("x"))) return FIELD_X;
    if (symbol == symbol::resolve(symbol::make("y"))) return FIELD_Y;
    return 0;
}

int32_t component(const kiv_value* p, int32_t field) { return field == FIELD_X ? x_of(p) : y_of(p); }

void set_component(kiv_value* p, int32_t field, int32_t v) {
    (field == FIELD_X ? p->data2 : p->data3) = uint32_t(v);
}

// Both components by the integer rules, which leave a float! in the cell of
// a component that is no integer (an overflow, an uneven quotient): then the
// result is no pair.
void combine(kiv_value* pair, int32_t x2, int32_t y2, int32_t op) {
    kiv_value x{TYPE_INTEGER, 0, 0, 0}, y{TYPE_INTEGER, 0, 0, 0};
    integer::do_math(x_of(pair), x2, op, &x);
    integer::do_math(y_of(pair), y2, op, &y);
    if (type_of(&x) != TYPE_INTEGER || type_of(&y) != TYPE_INTEGER) as_point2D();
    make_at(pair, integer::get_value(&x), integer::get_value(&y));
}

}  // namespace

// Arithmetic ---------------------------------------------------------------------

void do_math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    int32_t x2, y2;
    switch (type_of(right)) {
        case TYPE_PAIR:
            x2 = x_of(right);
            y2 = y_of(right);
            break;
        case TYPE_INTEGER:
            x2 = y2 = integer::get_value(right);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            // Dividing by an infinity still gives a point (of zeros); nothing
            // else can be done with one.
            double f = float_::get(right);
            if (op == OP_DIV ? std::isnan(f) : !std::isfinite(f))
                fire(err::SCRIPT, err::script::invalid_arg, right);
            if (op == OP_MUL || op == OP_DIV) as_point2D();
            // The other operations take the whole part, which must be an
            // integer for the result to stay a pair.
            double whole = std::trunc(f);
            if (!in_integer_range_q(whole)) fire(err::SCRIPT, err::script::out_of_range, right);
            x2 = y2 = int32_t(whole);
            break;
        }
        case TYPE_POINT2D:
            as_point2D();
        default:
            invalid_type(right);
    }
    combine(left, x2, y2, op);
}

static kiv_value* negate_value(kiv_value* value) {
    for (int32_t field : {FIELD_X, FIELD_Y}) {
        int32_t c = component(value, field);
        if (c == INT32_MIN) fire(err::MATH, err::math::overflow);
        set_component(value, field, -c);
    }
    return value;
}

void negate() { negate_value(stack::arguments); }

static void add() { do_math(OP_ADD); }
static void subtract() { do_math(OP_SUB); }
static void multiply() { do_math(OP_MUL); }
static void divide() { do_math(OP_DIV); }
static void remainder() { do_math(OP_REM); }
static void and_t() { do_math(OP_AND); }
static void or_t() { do_math(OP_OR); }
static void xor_t() { do_math(OP_XOR); }

static void absolute() {
    kiv_value* p = stack::arguments;
    make_at(p, integer::abs(x_of(p)), integer::abs(y_of(p)));
}

static kiv_value* reverse(kiv_value* p, kiv_value*, kiv_value*) { return make_at(p, y_of(p), x_of(p)); }

// Each component rounds as an integer! does, by the scale's matching
// component when the scale is a pair. A scale that is no integer rounds
// through float!; a whole result still fits the pair.
static kiv_value* round(kiv_value* value, kiv_value* scale, bool even, bool down, bool half_down, bool floor,
                        bool ceiling, bool half_ceiling) {
    int32_t out[2];
    for (int32_t field : {FIELD_X, FIELD_Y}) {
        kiv_value c, s;
        integer::make_at(&c, component(value, field));
        kiv_value* by = scale;
        if (scale && type_of(scale) == TYPE_PAIR) by = integer::make_at(&s, component(scale, field));
        integer::round(&c, by, even, down, half_down, floor, ceiling, half_ceiling);
        if (type_of(&c) == TYPE_INTEGER) {
            out[field - 1] = integer::get_value(&c);
            continue;
        }
        double d = float_::get(&c);
        if (d != std::trunc(d) || !in_integer_range_q(d)) as_point2D();
        out[field - 1] = int32_t(d);
    }
    return make_at(value, out[0], out[1]);
}

// A zero component stays zero: random 0 is 0.
static void random(kiv_value* value, bool seed, bool secure, bool) {
    if (seed) {
        // Turning y by half a word keeps 1x1 and 2x2 from seeding alike.
        random::seed(int32_t(uint32_t(x_of(value)) ^ std::rotl(uint32_t(y_of(value)), 16)));
        unset::return_();
        return;
    }
    make_at(value, random::int_(secure, x_of(value)), random::int_(secure, y_of(value)));
}

// Comparison ---------------------------------------------------------------------

static int32_t compare(kiv_value* value1, kiv_value* value2, int32_t) {
    switch (type_of(value2)) {
        case TYPE_PAIR: break;
        case TYPE_POINT2D: as_point2D();
        default: return COMPARE_INCOMPARABLE;
    }
    int32_t a = x_of(value1), b = x_of(value2);
    if (a == b) {
        a = y_of(value1);
        b = y_of(value2);
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

// Forming ------------------------------------------------------------------------

static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    const char* x = integer::form_signed(x_of(value));
    int32_t n = int32_t(std::strlen(x)) + 1;
    string::concatenate_literal(buffer, x);
    string::concatenate_literal(buffer, "x");
    const char* y = integer::form_signed(y_of(value));
    string::concatenate_literal(buffer, y);
    return part - n - int32_t(std::strlen(y));
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part,
                    int32_t) {
    return form(value, buffer, arg, part);
}

// Make and to --------------------------------------------------------------------

// A float's whole part as a component; beyond the integers it has none.
static int32_t truncated(const kiv_value* f) {
    if (float_::integer_range_q(f)) {
        kiv_value dt;
        datatype::make_at(&dt, TYPE_PAIR);
        fire(err::SCRIPT, err::script::type_limit, &dt);
    }
    return int32_t(float_::get(f));
}

// [x y]: the first two values from the cursor, integers or floats.
static kiv_value* from_block(kiv_value* spec) {
    uint32_t length = block::length_all(spec);
    uint32_t head = spec->data1 < length ? spec->data1 : length;
    if (length - head < 2) fire(err::SYNTAX, err::syntax::malconstruct, spec);
    int32_t xy[2];
    for (uint32_t i = 0; i < 2; i++) {
        const kiv_value* v = block::cells(spec) + head + i;
        switch (type_of(v)) {
            case TYPE_INTEGER: xy[i] = integer::get_value(v); break;
            case TYPE_FLOAT: xy[i] = truncated(v); break;
            default: fire(err::SYNTAX, err::syntax::malconstruct, spec);
        }
    }
    return push(xy[0], xy[1]);
}

static kiv_value* from_string(kiv_value* spec) {
    kiv_value* loaded = lexer::load_single(spec, stack::push());
    if (type_of(loaded) != TYPE_PAIR) bad_to(spec);
    return loaded;
}

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t) {
    switch (type_of(spec)) {
        case TYPE_PAIR: return spec;
        case TYPE_INTEGER: return push(integer::get_value(spec), integer::get_value(spec));
        case TYPE_FLOAT: return push(truncated(spec), truncated(spec));
        case TYPE_BLOCK: return from_block(spec);
        case TYPE_STRING: return from_string(spec);
        case TYPE_POINT2D: as_point2D();
        default: bad_to(spec);
    }
}

// Paths and pick -----------------------------------------------------------------

// Setting a component changes the pair where it is kept; an object holding
// it as a field (a face's size or offset) hears of the change.
static kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                            kiv_value* gparent, kiv_value* p_item, int32_t, bool, bool, bool, bool notify) {
    int32_t field = field_of(element);
    if (!field) {
        kiv_value p = path ? *path : none_value;
        fire(err::SCRIPT, err::script::invalid_path, &p, element);
    }
    if (!value) return integer::push(component(parent, field));
    if (type_of(value) != TYPE_INTEGER) invalid_type(value);
    kiv_value old = *parent;
    set_component(parent, field, integer::get_value(value));
    if (notify && gparent && type_of(gparent) == TYPE_OBJECT) {
        kiv_value changed = *parent;
        object::fire_on_change(gparent, p_item, &old, &changed);
    }
    return value;
}

// A logic index picks x for true and y for false.
static kiv_value* pick(kiv_value* p, int32_t index, kiv_value* index_cell) {
    int32_t field = type_of(index_cell) == TYPE_LOGIC ? index : field_of(index_cell);
    if (!field) fire(err::SCRIPT, err::script::out_of_range, index_cell);
    return integer::push(component(p, field));
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_PAIR, 0, "pair!", {
        impl<SLOT_MAKE>(to),              // make
        impl<SLOT_RANDOM>(random),        // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(to),                // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        impl<SLOT_ABSOLUTE>(absolute),    // absolute
        impl<SLOT_ADD>(add),              // add
        impl<SLOT_DIVIDE>(divide),        // divide
        impl<SLOT_MULTIPLY>(multiply),    // multiply
        impl<SLOT_NEGATE>(negate_value),  // negate
        UNSUPPORTED,                      // power
        impl<SLOT_REMAINDER>(remainder),  // remainder
        impl<SLOT_ROUND>(round),          // round
        impl<SLOT_SUBTRACT>(subtract),    // subtract
        UNSUPPORTED,                      // even?
        UNSUPPORTED,                      // odd?
        impl<SLOT_AND_T>(and_t),          // and~
        UNSUPPORTED,                      // complement
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
        UNSUPPORTED,                      // length?
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

}  // namespace kiv::pair
