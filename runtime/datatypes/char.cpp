// char!: code points with integer arithmetic kept inside 0 .. 0x10FFFF,
// conversions from numbers, text and UTF-8 bytes, and the char literal form.
#include "runtime/datatypes/char.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/vector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::char_ {

kiv_value* make_in(kiv_value* block, uint32_t cp) { return make_at(block::alloc_tail(block), cp); }
kiv_value* push(uint32_t cp) { return make_at(stack::push(), cp); }

void do_math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    int32_t value;
    switch (type_of(right)) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            value = integer::get_value(right);
            break;
        case TYPE_FLOAT: {
            // Beyond the 32-bit range the result cannot be a code point.
            double d = float_::get(right);
            if (!(d > -2147483649.0 && d < 2147483648.0)) fire(err::MATH, err::math::overflow);
            value = int32_t(d);
            break;
        }
        case TYPE_VECTOR:
            vector::do_math(op);
            return;
        default: {
            kiv_value dt;
            datatype::make_at(&dt, type_of(right));
            fire(err::SCRIPT, err::script::invalid_type, &dt);
        }
    }
    // Without a cell to turn into a float!, a quotient is truncated.
    kiv_value scratch{TYPE_INTEGER, 0, 0, 0};
    int32_t r = integer::do_math(int32_t(get_value(left)), value, op, op == OP_DIV ? nullptr : &scratch);
    if (type_of(&scratch) == TYPE_FLOAT || r < 0 || uint32_t(r) > MAX_CODEPOINT)
        fire(err::MATH, err::math::overflow);
    left->data2 = uint32_t(r);
}

static void add() { do_math(OP_ADD); }
static void subtract() { do_math(OP_SUB); }
static void multiply() { do_math(OP_MUL); }
static void divide() { do_math(OP_DIV); }
static void remainder() { do_math(OP_REM); }
static void and_t() { do_math(OP_AND); }
static void or_t() { do_math(OP_OR); }
static void xor_t() { do_math(OP_XOR); }

[[noreturn]] static void bad_to(kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_CHAR);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
}

static kiv_value* checked(int64_t cp, kiv_value* spec) {
    if (cp < 0 || cp > MAX_CODEPOINT) fire(err::SCRIPT, err::script::out_of_range, spec);
    return push(uint32_t(cp));
}

// The UTF-8 sequence at a binary's cursor: an empty binary has none to give,
// and a cut or malformed one raises `invalid-utf8`.
static kiv_value* from_utf8(kiv_value* spec) {
    uint32_t length = series::ks_length_all(spec);
    if (spec->data1 >= length) bad_to(spec);
    const uint8_t* p = series::unit_at(spec, spec->data1);
    uint32_t available = length - spec->data1;
    int32_t cp = unicode::decode_utf8_strict(p, &available);
    if (cp < 0) fire(err::ACCESS, err::access::invalid_utf8, binary::load(p, available));
    return push(uint32_t(cp));
}

kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    switch (type_of(spec)) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            return checked(integer::get_value(spec), spec);
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = float_::get(spec);
            if (!(d > -1.0 && d < MAX_CODEPOINT + 1.0)) fire(err::SCRIPT, err::script::out_of_range, spec);
            return push(uint32_t(d));
        }
        case TYPE_BINARY:
            return from_utf8(spec);
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF:
            if (string::ks_tail_q(spec)) bad_to(spec);
            return push(string::get_char(string::ks_head(spec), series::unit_of_value(spec)));
        default:
            bad_to(spec);
    }
}

int32_t form(kiv_value* c, kiv_value* buffer, kiv_value*, int32_t part) {
    string::append_char(string::buffer_of(buffer), get_value(c));
    return part - 1;
}

int32_t mold(kiv_value* c, kiv_value* buffer, bool, bool all, bool, kiv_value*, int32_t part, int32_t) {
    string::concatenate_literal(buffer, "#\"");
    string::mold_escape_char(buffer, get_value(c), all);
    string::concatenate_literal(buffer, "\"");
    return part - 4;
}

int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    uint32_t t = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_CHAR) return 1;
    if (t != TYPE_CHAR && t != TYPE_INTEGER) return COMPARE_INCOMPARABLE;
    int32_t a = int32_t(get_value(value1)), b = integer::get_value(value2);
    return a < b ? -1 : a > b ? 1 : 0;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_CHAR, TYPE_INTEGER, "char!", {
        impl<SLOT_MAKE>(make),            // make
        INHERITED,                        // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(make),              // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        UNSUPPORTED,                      // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        INHERITED,                        // absolute
        impl<SLOT_ADD>(add),              // add
        impl<SLOT_DIVIDE>(divide),        // divide
        impl<SLOT_MULTIPLY>(multiply),    // multiply
        UNSUPPORTED,                      // negate
        UNSUPPORTED,                      // power
        impl<SLOT_REMAINDER>(remainder),  // remainder
        UNSUPPORTED,                      // round
        impl<SLOT_SUBTRACT>(subtract),    // subtract
        INHERITED,                        // even?
        INHERITED,                        // odd?
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

}  // namespace kiv::char_
