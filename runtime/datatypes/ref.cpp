// ref!: a narrower string! row with its own molded form.
#include "runtime/datatypes/ref.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kiv::ref {

kiv_value* push(const kiv_value* ref) { return stack::push_value(ref); }

// "@" then the bare text; form is string!'s (the text alone).
static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value*, int32_t part,
                    int32_t) {
    string::concatenate_literal(buffer, "@");
    return string::form(value, buffer, nullptr, part - 1);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_REF, TYPE_STRING, "ref!", {
        INHERITED,                        // make
        UNSUPPORTED,                      // random
        INHERITED,                        // reflect
        INHERITED,                        // to
        INHERITED,                        // form
        impl<SLOT_MOLD>(mold),            // mold
        UNSUPPORTED,                      // eval-path
        UNSUPPORTED,                      // (empty)
        INHERITED,                        // compare
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
        UNSUPPORTED,                      // put
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
        UNSUPPORTED,                      // create
        UNSUPPORTED,                      // close
        UNSUPPORTED,                      // delete
        INHERITED,                        // modify
        UNSUPPORTED,                      // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        UNSUPPORTED,                      // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        UNSUPPORTED,                      // write
    });
}

}  // namespace kiv::ref
