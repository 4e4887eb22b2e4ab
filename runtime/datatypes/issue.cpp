// issue!: a word-like literal written with a leading "#", never bound to a
// slot.
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"

namespace kiv::issue {

static kiv_value named(int32_t symbol) {
    return kiv_value{TYPE_ISSUE, _context::global, uint32_t(symbol), uint32_t(-1)};
}

kiv_value* make_at(kiv_value* cell, const char* name) {
    *cell = named(symbol::make(name));
    return cell;
}

kiv_value* make_in(const char* name, kiv_value* block) { return make_at(block::alloc_tail(block), name); }

kiv_value* load(const char* name) {
    if (runtime::boot_loading) return make_in(name, &runtime::root);
    return make_at(stack::push(), name);
}

kiv_value* push(const kiv_value* cell) {
    kiv_value* pushed = stack::push_value(cell);
    cell::set_type(pushed, TYPE_ISSUE);
    return pushed;
}

static kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    kiv_value result;
    uint32_t t = type_of(spec);
    if (any_word_q(t)) {
        result = *spec;
    } else if (t == TYPE_STRING) {
        result = named(symbol::from_string(spec));
    } else if (t == TYPE_CHAR) {
        kiv_value one;
        string::make_at(&one, 1);
        string::append_char(series::buffer(one.data2), spec->data2);
        result = named(symbol::from_string(&one));
    } else {
        return reinterpret_cast<actions::make_fn>(actions::entry(TYPE_WORD, SLOT_MAKE))(proto, spec, type);
    }
    result.header = type;
    return stack::push_value(&result);
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value* arg,
                    int32_t part, int32_t) {
    string::concatenate_literal(buffer, "#");
    return actions::form_typed(value, buffer, arg, part - 1);
}

static int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    if (type_of(value2) != TYPE_ISSUE) return COMPARE_INCOMPARABLE;
    return reinterpret_cast<actions::compare_fn>(actions::entry(TYPE_WORD, SLOT_COMPARE))(value1, value2, op);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_ISSUE, TYPE_WORD, "issue!", {
        impl<SLOT_MAKE>(make),        // make
        UNSUPPORTED,                  // random
        UNSUPPORTED,                  // reflect
        impl<SLOT_TO>(make),          // to
        INHERITED,                    // form
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

}  // namespace kiv::issue
