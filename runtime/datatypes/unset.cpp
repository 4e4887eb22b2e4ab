// unset!: the value of nothing.
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

const kiv_value unset_value{TYPE_UNSET, 0, 0, 0};

namespace unset {

kiv_value* return_() { return copy_cell(&unset_value, stack::arguments); }
kiv_value* push() { return stack::push_value(&unset_value); }
kiv_value* make_in(kiv_value* block) { return copy_cell(&unset_value, block::alloc_tail(block)); }

// make and to: whatever the spec, the result is unset.
static kiv_value* make(kiv_value*, kiv_value*, uint32_t) { return push(); }

static int32_t form(kiv_value*, kiv_value*, kiv_value*, int32_t part) { return part; }

static int32_t mold(kiv_value*, kiv_value* buffer, bool, bool all, bool, kiv_value*, int32_t part,
                    int32_t) {
    string::concatenate_literal(buffer, all ? "#(unset)" : "unset");
    return part - (all ? 8 : 5);
}

static int32_t compare(kiv_value*, kiv_value* other, int32_t op) {
    return type_of(other) == TYPE_UNSET && logic::equality_or_sort_q(op) ? 0 : COMPARE_INCOMPARABLE;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_UNSET, 0, "unset!", {
        impl<SLOT_MAKE>(make),        // make
        UNSUPPORTED,                  // random
        UNSUPPORTED,                  // reflect
        impl<SLOT_TO>(make),          // to
        impl<SLOT_FORM>(form),        // form
        impl<SLOT_MOLD>(mold),        // mold
        UNSUPPORTED,                  // eval-path
        UNSUPPORTED,                  // (empty)
        impl<SLOT_COMPARE>(compare),  // compare
        UNSUPPORTED,                  // absolute
        UNSUPPORTED,                  // add
        UNSUPPORTED,                  // divide
        UNSUPPORTED,                  // multiply
        UNSUPPORTED,                  // negate
        UNSUPPORTED,                  // power
        UNSUPPORTED,                  // remainder
        UNSUPPORTED,                  // round
        UNSUPPORTED,                  // subtract
        UNSUPPORTED,                  // even?
        UNSUPPORTED,                  // odd?
        UNSUPPORTED,                  // and~
        UNSUPPORTED,                  // complement
        UNSUPPORTED,                  // or~
        UNSUPPORTED,                  // xor~
        UNSUPPORTED,                  // append
        UNSUPPORTED,                  // at
        UNSUPPORTED,                  // back
        UNSUPPORTED,                  // change
        UNSUPPORTED,                  // clear
        UNSUPPORTED,                  // copy
        UNSUPPORTED,                  // find
        UNSUPPORTED,                  // head
        UNSUPPORTED,                  // head?
        UNSUPPORTED,                  // index?
        UNSUPPORTED,                  // insert
        UNSUPPORTED,                  // length?
        UNSUPPORTED,                  // move
        UNSUPPORTED,                  // next
        UNSUPPORTED,                  // pick
        UNSUPPORTED,                  // poke
        UNSUPPORTED,                  // put
        UNSUPPORTED,                  // remove
        UNSUPPORTED,                  // reverse
        UNSUPPORTED,                  // select
        UNSUPPORTED,                  // sort
        UNSUPPORTED,                  // skip
        UNSUPPORTED,                  // swap
        UNSUPPORTED,                  // tail
        UNSUPPORTED,                  // tail?
        UNSUPPORTED,                  // take
        UNSUPPORTED,                  // trim
        UNSUPPORTED,                  // create
        UNSUPPORTED,                  // close
        UNSUPPORTED,                  // delete
        UNSUPPORTED,                  // modify
        UNSUPPORTED,                  // open
        UNSUPPORTED,                  // open?
        UNSUPPORTED,                  // query
        UNSUPPORTED,                  // read
        UNSUPPORTED,                  // rename
        UNSUPPORTED,                  // update
        UNSUPPORTED,                  // write
    });
}

}  // namespace unset
}  // namespace kiv
