// none!: the explicit absence of a value.
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

const kiv_value none_value{TYPE_NONE, 0, 0, 0};

namespace none {

kiv_value* return_() { return copy_cell(&none_value, stack::arguments); }
kiv_value* push() { return stack::push_value(&none_value); }
kiv_value* make_at(kiv_value* block) { return copy_cell(&none_value, block::alloc_tail(block)); }

static kiv_value* make(kiv_value*, kiv_value*, uint32_t) { return push(); }

static int32_t form(kiv_value*, kiv_value* buffer, kiv_value*, int32_t part) {
    string::concatenate_literal(buffer, "none");
    return part - 4;
}

static int32_t mold(kiv_value*, kiv_value* buffer, bool, bool all, bool, kiv_value*, int32_t part,
                    int32_t) {
    string::concatenate_literal(buffer, all ? "#(none)" : "none");
    return part - (all ? 7 : 4);
}

static int32_t compare(kiv_value*, kiv_value* other, int32_t op) {
    return type_of(other) == TYPE_NONE && logic::equality_or_sort_q(op) ? 0 : COMPARE_INCOMPARABLE;
}

// The series actions on none all answer none, whatever their arguments.
static kiv_value* value_to_none(kiv_value*) { return return_(); }
static kiv_value* find(kiv_value*, kiv_value*, kiv_value*, bool, bool, bool, bool, kiv_value*,
                       kiv_value*, bool, bool, bool, bool) {
    return return_();
}
static kiv_value* select(kiv_value*, kiv_value*, kiv_value*, bool, bool, bool, bool, kiv_value*,
                         kiv_value*, bool, bool) {
    return return_();
}
static kiv_value* remove(kiv_value*, kiv_value*, kiv_value*) { return return_(); }
static kiv_value* take(kiv_value*, kiv_value*, bool, bool) { return return_(); }
static int32_t length_q(kiv_value*) { return -1; }

void init() {
    using namespace actions;
    datatype::register_(TYPE_NONE, 0, "none!", {
        impl<SLOT_MAKE>(make),            // make
        UNSUPPORTED,                      // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(make),              // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        UNSUPPORTED,                      // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        UNSUPPORTED,                      // absolute
        UNSUPPORTED,                      // add
        UNSUPPORTED,                      // divide
        UNSUPPORTED,                      // multiply
        UNSUPPORTED,                      // negate
        UNSUPPORTED,                      // power
        UNSUPPORTED,                      // remainder
        UNSUPPORTED,                      // round
        UNSUPPORTED,                      // subtract
        UNSUPPORTED,                      // even?
        UNSUPPORTED,                      // odd?
        UNSUPPORTED,                      // and~
        UNSUPPORTED,                      // complement
        UNSUPPORTED,                      // or~
        UNSUPPORTED,                      // xor~
        UNSUPPORTED,                      // append
        UNSUPPORTED,                      // at
        UNSUPPORTED,                      // back
        UNSUPPORTED,                      // change
        impl<SLOT_CLEAR>(value_to_none),  // clear
        UNSUPPORTED,                      // copy
        impl<SLOT_FIND>(find),            // find
        UNSUPPORTED,                      // head
        UNSUPPORTED,                      // head?
        UNSUPPORTED,                      // index?
        UNSUPPORTED,                      // insert
        impl<SLOT_LENGTH_Q>(length_q),    // length?
        UNSUPPORTED,                      // move
        UNSUPPORTED,                      // next
        UNSUPPORTED,                      // pick
        UNSUPPORTED,                      // poke
        UNSUPPORTED,                      // put
        impl<SLOT_REMOVE>(remove),        // remove
        UNSUPPORTED,                      // reverse
        impl<SLOT_SELECT>(select),        // select
        UNSUPPORTED,                      // sort
        UNSUPPORTED,                      // skip
        UNSUPPORTED,                      // swap
        UNSUPPORTED,                      // tail
        UNSUPPORTED,                      // tail?
        impl<SLOT_TAKE>(take),            // take
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

}  // namespace none
}  // namespace kiv
