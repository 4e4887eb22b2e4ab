// percent!: float!'s row with its own text.
#include "runtime/datatypes/percent.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kiv::percent {

kiv_value* make_in(kiv_value* block, double fraction) { return make_at(block::alloc_tail(block), fraction); }
kiv_value* push(double fraction) { return make_at(stack::push(), fraction); }

// Form and mold write the same text: the hundredths to thirteen digits.
static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    dtoa::formed f = float_::form_float(get(value) * 100.0, float_::FORM_PERCENT);
    string::concatenate_literal(buffer, f.text);
    return part - f.length;
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part,
                    int32_t) {
    return form(value, buffer, arg, part);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_PERCENT, TYPE_FLOAT, "percent!", {
        INHERITED,                // make
        INHERITED,                // random
        UNSUPPORTED,              // reflect
        INHERITED,                // to
        impl<SLOT_FORM>(form),    // form
        impl<SLOT_MOLD>(mold),    // mold
        UNSUPPORTED,              // eval-path
        UNSUPPORTED,              // (empty)
        INHERITED,                // compare
        INHERITED,                // absolute
        INHERITED,                // add
        INHERITED,                // divide
        INHERITED,                // multiply
        INHERITED,                // negate
        INHERITED,                // power
        INHERITED,                // remainder
        INHERITED,                // round
        INHERITED,                // subtract
        INHERITED,                // even?
        INHERITED,                // odd?
        UNSUPPORTED,              // and~
        UNSUPPORTED,              // complement
        UNSUPPORTED,              // or~
        UNSUPPORTED,              // xor~
        UNSUPPORTED,              // append
        UNSUPPORTED,              // at
        UNSUPPORTED,              // back
        UNSUPPORTED,              // change
        UNSUPPORTED,              // clear
        UNSUPPORTED,              // copy
        UNSUPPORTED,              // find
        UNSUPPORTED,              // head
        UNSUPPORTED,              // head?
        UNSUPPORTED,              // index?
        UNSUPPORTED,              // insert
        UNSUPPORTED,              // length?
        UNSUPPORTED,              // move
        UNSUPPORTED,              // next
        UNSUPPORTED,              // pick
        UNSUPPORTED,              // poke
        UNSUPPORTED,              // put
        UNSUPPORTED,              // remove
        UNSUPPORTED,              // reverse
        UNSUPPORTED,              // select
        UNSUPPORTED,              // sort
        UNSUPPORTED,              // skip
        UNSUPPORTED,              // swap
        UNSUPPORTED,              // tail
        UNSUPPORTED,              // tail?
        UNSUPPORTED,              // take
        UNSUPPORTED,              // trim
        UNSUPPORTED,              // create
        UNSUPPORTED,              // close
        UNSUPPORTED,              // delete
        UNSUPPORTED,              // modify
        UNSUPPORTED,              // open
        UNSUPPORTED,              // open?
        UNSUPPORTED,              // query
        UNSUPPORTED,              // read
        UNSUPPORTED,              // rename
        UNSUPPORTED,              // update
        UNSUPPORTED,              // write
    });
}

}  // namespace kiv::percent
