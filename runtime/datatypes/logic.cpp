// logic!: true and false, and the truth tests of conditions.
#include "runtime/datatypes/logic.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/evaluator/random.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv {

const kiv_value true_value{TYPE_LOGIC, 1, 0, 0};
const kiv_value false_value{TYPE_LOGIC, 0, 0, 0};

namespace logic {

kiv_value* box(bool value) { return copy_cell(value ? &true_value : &false_value, stack::arguments); }
kiv_value* push(bool value) { return stack::push_value(value ? &true_value : &false_value); }
kiv_value* make_in(kiv_value* block, bool value) {
    return copy_cell(value ? &true_value : &false_value, block::alloc_tail(block));
}

bool true_q() {
    if (type_of(stack::arguments) == TYPE_UNSET) fire(err::SCRIPT, err::script::no_return);
    return truthy(stack::arguments);
}

bool false_q() { return !truthy(stack::arguments); }

bool true_cell_q(const kiv_value* cell, bool check, const kiv_value* name) {
    if (check && type_of(cell) == TYPE_UNSET) fire(err::SCRIPT, err::script::no_value, name);
    return truthy(cell);
}

bool top_false_q() { return !truthy(stack::get_top()); }

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t) {
    if (type_of(spec) == TYPE_LOGIC) return spec;
    return const_cast<kiv_value*>(type_of(spec) == TYPE_NONE ? &false_value : &true_value);
}

// make counts a number's zero as false (to does not).
static kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    switch (type_of(spec)) {
        case TYPE_INTEGER:
            return const_cast<kiv_value*>(spec->data2 ? &true_value : &false_value);
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            return const_cast<kiv_value*>(cell::get_float(spec) != 0.0 ? &true_value : &false_value);
        default:
            return to(proto, spec, type);
    }
}

static void random(kiv_value* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(int32_t(value->data1));
        unset::return_();
        return;
    }
    int32_t draw = secure ? random::secure_next() : random::next();
    box(draw > 1073741823);
}

static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    bool v = get(value);
    string::concatenate_literal(buffer, v ? "true" : "false");
    return part - (v ? 4 : 5);
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool, kiv_value* arg,
                    int32_t part, int32_t) {
    if (!all) return form(value, buffer, arg, part);
    bool v = get(value);
    string::concatenate_literal(buffer, v ? "#(true)" : "#(false)");
    return part - (v ? 7 : 8);
}

// false sorts before true; only equalities and sort orders are answered.
static int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    if (type_of(value2) != TYPE_LOGIC || !equality_or_sort_q(op)) return COMPARE_INCOMPARABLE;
    return int32_t(value1->data1) - int32_t(value2->data1);
}

static kiv_value* complement(kiv_value* value) {
    value->data1 ^= 1;
    return value;
}

static void bitwise(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    if (type_of(right) != TYPE_LOGIC) {
        actions::fire_expect_arg(type_of(right), 1);
    }
    switch (op) {
        case OP_AND: left->data1 &= right->data1; break;
        case OP_OR: left->data1 |= right->data1; break;
        case OP_XOR: left->data1 ^= right->data1; break;
        default: system::runtime_error(system::RT_NO_SWITCH);
    }
}
static void and_t() { bitwise(OP_AND); }
static void or_t() { bitwise(OP_OR); }
static void xor_t() { bitwise(OP_XOR); }

void init() {
    using namespace actions;
    datatype::register_(TYPE_LOGIC, 0, "logic!", {
        impl<SLOT_MAKE>(make),              // make
        impl<SLOT_RANDOM>(random),          // random
        UNSUPPORTED,                        // reflect
        impl<SLOT_TO>(to),                  // to
        impl<SLOT_FORM>(form),              // form
        impl<SLOT_MOLD>(mold),              // mold
        UNSUPPORTED,                        // eval-path
        UNSUPPORTED,                        // (empty)
        impl<SLOT_COMPARE>(compare),        // compare
        UNSUPPORTED,                        // absolute
        UNSUPPORTED,                        // add
        UNSUPPORTED,                        // divide
        UNSUPPORTED,                        // multiply
        UNSUPPORTED,                        // negate
        UNSUPPORTED,                        // power
        UNSUPPORTED,                        // remainder
        UNSUPPORTED,                        // round
        UNSUPPORTED,                        // subtract
        UNSUPPORTED,                        // even?
        UNSUPPORTED,                        // odd?
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

}  // namespace logic
}  // namespace kiv
