// handle!: constructors, its hexadecimal text and its ordering.
#include "runtime/datatypes/handle.h"

#include <string>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kiv::handle {

namespace {
constexpr const char* CLASS_NAMES[CLASS_COUNT] = {"null", "fd", "monitor", "window", "font", "rich-text"};
}

const char* class_name(uint32_t code) { return code < CLASS_COUNT ? CLASS_NAMES[code] : nullptr; }

kiv_value* make_in(kiv_value* block, int32_t value, uint32_t cls) {
    return make_at(block::alloc_tail(block), value, cls);
}
kiv_value* push(int32_t value, uint32_t cls) { return make_at(stack::push(), value, cls); }
kiv_value* push_null() { return push(0, NULL_CLASS); }
kiv_value* box(int32_t value, uint32_t cls) { return make_at(stack::arguments, value, cls); }

namespace {

// All eight hexadecimal digits, then "h".
int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    string::concatenate_literal(buffer, string::to_hex(get_value(value), false));
    string::concatenate_literal(buffer, "h");
    return part - 9;
}

// Only /all shows what a handle holds: its value means nothing once the
// process that made it is gone.
int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool, kiv_value* arg, int32_t part, int32_t) {
    if (!all) {
        string::concatenate_literal(buffer, "handle!");
        return part - 7;
    }
    string::concatenate_literal(buffer, "#[handle! ");
    part = form(value, buffer, arg, part - 10);
    const char* name = class_name(class_of(value));
    if (class_of(value) > NULL_CLASS && name) {
        string::concatenate_literal(buffer, " ");
        string::concatenate_literal(buffer, name);
        part -= 1 + int32_t(std::char_traits<char>::length(name));
    }
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

int32_t compare(kiv_value* value1, kiv_value* value2, int32_t) {
    if (type_of(value2) != TYPE_HANDLE) return 1;
    int32_t a = get_value(value1), b = get_value(value2);
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

void init() {
    using namespace actions;
    datatype::register_(TYPE_HANDLE, TYPE_INTEGER, "handle!", {
        UNSUPPORTED,                      // make
        UNSUPPORTED,                      // random
        UNSUPPORTED,                      // reflect
        UNSUPPORTED,                      // to
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

}  // namespace kiv::handle
