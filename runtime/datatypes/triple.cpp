// triple!: three signed integers in one cell, pushed by PARSE on its
// backtracking stacks. It only forms and molds, so that those stacks can be
// inspected.
#include "runtime/datatypes/triple.h"

#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"

namespace kiv::triple {

static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    const uint32_t words[3] = {value->data1, value->data2, value->data3};
    string::concatenate_literal(buffer, "make triple! [");
    part -= 14;
    for (int i = 0; i < 3; i++) {
        const char* digits = integer::form_signed(int32_t(words[i]));
        string::concatenate_literal(buffer, digits);
        part -= int32_t(std::strlen(digits));
        if (i < 2) {
            string::concatenate_literal(buffer, " ");
            part--;
        }
    }
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value* arg,
                    int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_TRIPLE, 0, "triple!", {
        UNSUPPORTED,            // make
        UNSUPPORTED,            // random
        UNSUPPORTED,            // reflect
        UNSUPPORTED,            // to
        impl<SLOT_FORM>(form),  // form
        impl<SLOT_MOLD>(mold),  // mold
        UNSUPPORTED,            // eval-path
        UNSUPPORTED,            // (empty)
        UNSUPPORTED,            // compare
        UNSUPPORTED,            // absolute
        UNSUPPORTED,            // add
        UNSUPPORTED,            // divide
        UNSUPPORTED,            // multiply
        UNSUPPORTED,            // negate
        UNSUPPORTED,            // power
        UNSUPPORTED,            // remainder
        UNSUPPORTED,            // round
        UNSUPPORTED,            // subtract
        UNSUPPORTED,            // even?
        UNSUPPORTED,            // odd?
        UNSUPPORTED,            // and~
        UNSUPPORTED,            // complement
        UNSUPPORTED,            // or~
        UNSUPPORTED,            // xor~
        UNSUPPORTED,            // append
        UNSUPPORTED,            // at
        UNSUPPORTED,            // back
        UNSUPPORTED,            // change
        UNSUPPORTED,            // clear
        UNSUPPORTED,            // copy
        UNSUPPORTED,            // find
        UNSUPPORTED,            // head
        UNSUPPORTED,            // head?
        UNSUPPORTED,            // index?
        UNSUPPORTED,            // insert
        UNSUPPORTED,            // length?
        UNSUPPORTED,            // move
        UNSUPPORTED,            // next
        UNSUPPORTED,            // pick
        UNSUPPORTED,            // poke
        UNSUPPORTED,            // put
        UNSUPPORTED,            // remove
        UNSUPPORTED,            // reverse
        UNSUPPORTED,            // select
        UNSUPPORTED,            // sort
        UNSUPPORTED,            // skip
        UNSUPPORTED,            // swap
        UNSUPPORTED,            // tail
        UNSUPPORTED,            // tail?
        UNSUPPORTED,            // take
        UNSUPPORTED,            // trim
        UNSUPPORTED,            // create
        UNSUPPORTED,            // close
        UNSUPPORTED,            // delete
        UNSUPPORTED,            // modify
        UNSUPPORTED,            // open
        UNSUPPORTED,            // open?
        UNSUPPORTED,            // query
        UNSUPPORTED,            // read
        UNSUPPORTED,            // rename
        UNSUPPORTED,            // update
        UNSUPPORTED,            // write
    });
}

}  // namespace kiv::triple
