// tag!: string!'s row with its own text.
#include "runtime/datatypes/tag.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kiv::tag {

kiv_value* push(const kiv_value* tag) { return stack::push_value(tag); }

// Form and mold write the same text: the bare text inside its brackets.
static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    string::concatenate_literal(buffer, "<");
    part = string::form(value, buffer, nullptr, part - 1);
    string::concatenate_literal(buffer, ">");
    return part - 1;
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part,
                    int32_t) {
    return form(value, buffer, arg, part);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_TAG, TYPE_STRING, "tag!", {
        INHERITED,                        // make
        UNSUPPORTED,                      // random
        INHERITED,                        // reflect
        INHERITED,                        // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        INHERITED,                        // eval-path
        UNSUPPORTED,                      // (empty)
        INHERITED,                        // compare
        INHERITED,                        // absolute
        INHERITED,                        // add
        INHERITED,                        // divide
        INHERITED,                        // multiply
        INHERITED,                        // negate
        INHERITED,                        // power
        INHERITED,                        // remainder
        INHERITED,                        // round
        INHERITED,                        // subtract
        INHERITED,                        // even?
        INHERITED,                        // odd?
        INHERITED,                        // and~
        INHERITED,                        // complement
        INHERITED,                        // or~
        INHERITED,                        // xor~
        INHERITED,                        // append
        INHERITED,                        // at
        INHERITED,                        // back
        INHERITED,                        // change
        INHERITED,                        // clear
        INHERITED,                        // copy
        INHERITED,                        // find
        INHERITED,                        // head
        INHERITED,                        // head?
        INHERITED,                        // index?
        INHERITED,                        // insert
        INHERITED,                        // length?
        INHERITED,                        // move
        INHERITED,                        // next
        INHERITED,                        // pick
        INHERITED,                        // poke
        INHERITED,                        // put
        INHERITED,                        // remove
        INHERITED,                        // reverse
        INHERITED,                        // select
        UNSUPPORTED,                      // sort
        INHERITED,                        // skip
        INHERITED,                        // swap
        INHERITED,                        // tail
        INHERITED,                        // tail?
        INHERITED,                        // take
        UNSUPPORTED,                      // trim
        INHERITED,                        // create
        INHERITED,                        // close
        INHERITED,                        // delete
        INHERITED,                        // modify
        INHERITED,                        // open
        INHERITED,                        // open?
        INHERITED,                        // query
        INHERITED,                        // read
        INHERITED,                        // rename
        INHERITED,                        // update
        INHERITED,                        // write
    });
}

}  // namespace kiv::tag
