// datatype!: a value that names a datatype (its id in payload word 1).
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/string.h"

namespace kiv::datatype {

// By the id's name, so that a datatype whose module has not registered it
// yet still has its text.
static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    const char* name = id_name(value->data1);
    uint32_t length = uint32_t(std::strlen(name)) - 1;
    string::concatenate_bytes(buffer, reinterpret_cast<const uint8_t*>(name), length);
    return part - int32_t(length);
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool, kiv_value*,
                    int32_t part, int32_t) {
    const char* name = id_name(value->data1);
    if (all) string::concatenate_literal(buffer, "#(");
    string::concatenate_literal(buffer, name);
    if (all) string::concatenate_literal(buffer, ")");
    return part - int32_t(std::strlen(name)) - (all ? 3 : 0);
}

// Datatypes are equal or not; they have no order.
static int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME:
        case COMP_FIND:
            return type_of(value2) == TYPE_DATATYPE && value2->data1 == value1->data1 ? 0 : 1;
        default:
            return COMPARE_INCOMPARABLE;
    }
}

void init() {
    using namespace actions;
    register_(TYPE_DATATYPE, 0, "datatype!", {
        UNSUPPORTED,                  // make
        UNSUPPORTED,                  // random
        UNSUPPORTED,                  // reflect
        UNSUPPORTED,                  // to
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

}  // namespace kiv::datatype
