// paren! and the path family: blocks under other names, molded between
// parentheses or with their elements joined by "/".
#include "runtime/datatypes/path.h"

#include "runtime/cycles.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv::path {

namespace {

int32_t paren_mold(kiv_value* value, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg,
                   int32_t part, int32_t indent) {
    if (cycles::detect_q(value, buffer, &part, true)) return part;
    if (!only) {
        string::concatenate_literal(buffer, "(");
        part--;
    }
    part = block::mold_content(value, buffer, only, all, flat, arg, part, indent);
    if (!only) {
        string::concatenate_literal(buffer, ")");
        part--;
    }
    return part;
}

// The elements joined by "/", each formed or molded.
int32_t join(kiv_value* value, kiv_value* buffer, bool mold, bool all, bool flat, kiv_value* arg, int32_t part) {
    kiv_value p = *value;
    cycles::push(p.data2);
    for (uint32_t i = p.data1; i < block::length_all(&p); i++) {
        if (arg && part <= 0) break;
        if (i > p.data1) {
            string::concatenate_literal(buffer, "/");
            part--;
        }
        kiv_value cell = block::cells(&p)[i];
        part = mold ? actions::mold_typed(&cell, buffer, false, all, flat, arg, part, 0)
                    : actions::form_typed(&cell, buffer, arg, part);
    }
    cycles::pop();
    return part;
}

// A path met again inside itself is written "...".
int32_t path_form(kiv_value* value, kiv_value* buffer, kiv_value* arg, int32_t part) {
    if (cycles::detect_q(value, buffer, &part, false)) return part;
    return join(value, buffer, false, false, false, arg, part);
}

template <uint32_t Type>
int32_t path_mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool flat, kiv_value* arg, int32_t part,
                  int32_t) {
    if (cycles::detect_q(value, buffer, &part, true)) return part;
    const char* lead = Type == TYPE_LIT_PATH ? "'" : Type == TYPE_GET_PATH ? ":" : nullptr;
    if (lead) {
        string::concatenate_literal(buffer, lead);
        part--;
    }
    part = join(value, buffer, true, all, flat, arg, part);
    if (Type == TYPE_SET_PATH) {
        string::concatenate_literal(buffer, ":");
        part--;
    }
    return part;
}

kiv_value* path_make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT) {
        double d = t == TYPE_INTEGER ? integer::get_value(spec) : float_::get(spec);
        if (!(d > -2147483649.0 && d < 2147483648.0)) fire(err::SCRIPT, err::script::out_of_range, spec);
        int32_t size = int32_t(d);
        kiv_value* r = block::push_only(size == 0 ? 1 : size);
        r->header = type;
        return r;
    }
    if (series::block_like_q(t)) {
        kiv_value* r = block::clone(spec, false, false);
        r->header = type;
        return r;
    }
    (void)proto;
    kiv_value dt;
    datatype::make_at(&dt, type);
    fire(err::SCRIPT, err::script::bad_make_arg, &dt, spec);
}

kiv_value* path_to(kiv_value* proto, kiv_value* spec, uint32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_MAP || t == TYPE_OBJECT || t == TYPE_TYPESET) {
        kiv_value v = *spec;
        kiv_value* r = block::push_only(1);
        *block::alloc_tail(r) = v;
        r->header = type;
        return r;
    }
    kiv_value* r = reinterpret_cast<actions::make_fn>(actions::entry(TYPE_BLOCK, SLOT_TO))(proto, spec, type);
    r->header = type;
    return r;
}

kiv_value* path_copy(kiv_value* value, kiv_value* result, kiv_value* part, bool deep, kiv_value* types) {
    return block::copy(value, result, part, deep, types);
}

}  // namespace

void init() {
    using namespace actions;
    datatype::register_(TYPE_PATH, TYPE_BLOCK, "path!", {
        impl<SLOT_MAKE>(path_make),             // make
        UNSUPPORTED,                   // random
        INHERITED,                              // reflect
        impl<SLOT_TO>(path_to),                 // to
        impl<SLOT_FORM>(path_form),             // form
        impl<SLOT_MOLD>(path_mold<TYPE_PATH>),  // mold
        INHERITED,                              // eval-path
        INHERITED,                              // (empty)
        INHERITED,                              // compare
        INHERITED,                              // absolute
        INHERITED,                              // add
        INHERITED,                              // divide
        INHERITED,                              // multiply
        INHERITED,                              // negate
        INHERITED,                              // power
        INHERITED,                              // remainder
        INHERITED,                              // round
        INHERITED,                              // subtract
        INHERITED,                              // even?
        INHERITED,                              // odd?
        INHERITED,                              // and~
        INHERITED,                              // complement
        INHERITED,                              // or~
        INHERITED,                              // xor~
        INHERITED,                              // append
        INHERITED,                              // at
        INHERITED,                              // back
        INHERITED,                              // change
        INHERITED,                              // clear
        impl<SLOT_COPY>(path_copy),             // copy
        INHERITED,                              // find
        INHERITED,                              // head
        INHERITED,                              // head?
        INHERITED,                              // index?
        INHERITED,                              // insert
        INHERITED,                              // length?
        INHERITED,                              // move
        INHERITED,                              // next
        INHERITED,                              // pick
        INHERITED,                              // poke
        INHERITED,                              // put
        INHERITED,                              // remove
        INHERITED,                              // reverse
        INHERITED,                              // select
        UNSUPPORTED,                     // sort
        INHERITED,                              // skip
        INHERITED,                              // swap
        INHERITED,                              // tail
        INHERITED,                              // tail?
        INHERITED,                              // take
        UNSUPPORTED,                     // trim
        INHERITED,                              // create
        INHERITED,                              // close
        INHERITED,                              // delete
        INHERITED,                              // modify
        INHERITED,                              // open
        INHERITED,                              // open?
        INHERITED,                              // query
        INHERITED,                              // read
        INHERITED,                              // rename
        INHERITED,                              // update
        INHERITED,                              // write
    });
    datatype::register_(TYPE_LIT_PATH, TYPE_PATH, "lit-path!", {
        INHERITED,              // make
        INHERITED,              // random
        INHERITED,              // reflect
        INHERITED,              // to
        INHERITED,              // form
        impl<SLOT_MOLD>(path_mold<TYPE_LIT_PATH>),  // mold
        INHERITED,              // eval-path
        INHERITED,              // (empty)
        INHERITED,              // compare
        INHERITED,              // absolute
        INHERITED,              // add
        INHERITED,              // divide
        INHERITED,              // multiply
        INHERITED,              // negate
        INHERITED,              // power
        INHERITED,              // remainder
        INHERITED,              // round
        INHERITED,              // subtract
        INHERITED,              // even?
        INHERITED,              // odd?
        INHERITED,              // and~
        INHERITED,              // complement
        INHERITED,              // or~
        INHERITED,              // xor~
        INHERITED,              // append
        INHERITED,              // at
        INHERITED,              // back
        INHERITED,              // change
        INHERITED,              // clear
        INHERITED,              // copy
        INHERITED,              // find
        INHERITED,              // head
        INHERITED,              // head?
        INHERITED,              // index?
        INHERITED,              // insert
        INHERITED,              // length?
        INHERITED,              // move
        INHERITED,              // next
        INHERITED,              // pick
        INHERITED,              // poke
        INHERITED,              // put
        INHERITED,              // remove
        INHERITED,              // reverse
        INHERITED,              // select
        INHERITED,              // sort
        INHERITED,              // skip
        INHERITED,              // swap
        INHERITED,              // tail
        INHERITED,              // tail?
        INHERITED,              // take
        INHERITED,              // trim
        INHERITED,              // create
        INHERITED,              // close
        INHERITED,              // delete
        INHERITED,              // modify
        INHERITED,              // open
        INHERITED,              // open?
        INHERITED,              // query
        INHERITED,              // read
        INHERITED,              // rename
        INHERITED,              // update
        INHERITED,              // write
    });
    datatype::register_(TYPE_SET_PATH, TYPE_PATH, "set-path!", {
        INHERITED,              // make
        INHERITED,              // random
        INHERITED,              // reflect
        INHERITED,              // to
        INHERITED,              // form
        impl<SLOT_MOLD>(path_mold<TYPE_SET_PATH>),  // mold
        INHERITED,              // eval-path
        INHERITED,              // (empty)
        INHERITED,              // compare
        INHERITED,              // absolute
        INHERITED,              // add
        INHERITED,              // divide
        INHERITED,              // multiply
        INHERITED,              // negate
        INHERITED,              // power
        INHERITED,              // remainder
        INHERITED,              // round
        INHERITED,              // subtract
        INHERITED,              // even?
        INHERITED,              // odd?
        INHERITED,              // and~
        INHERITED,              // complement
        INHERITED,              // or~
        INHERITED,              // xor~
        INHERITED,              // append
        INHERITED,              // at
        INHERITED,              // back
        INHERITED,              // change
        INHERITED,              // clear
        INHERITED,              // copy
        INHERITED,              // find
        INHERITED,              // head
        INHERITED,              // head?
        INHERITED,              // index?
        INHERITED,              // insert
        INHERITED,              // length?
        INHERITED,              // move
        INHERITED,              // next
        INHERITED,              // pick
        INHERITED,              // poke
        INHERITED,              // put
        INHERITED,              // remove
        INHERITED,              // reverse
        INHERITED,              // select
        INHERITED,              // sort
        INHERITED,              // skip
        INHERITED,              // swap
        INHERITED,              // tail
        INHERITED,              // tail?
        INHERITED,              // take
        INHERITED,              // trim
        INHERITED,              // create
        INHERITED,              // close
        INHERITED,              // delete
        INHERITED,              // modify
        INHERITED,              // open
        INHERITED,              // open?
        INHERITED,              // query
        INHERITED,              // read
        INHERITED,              // rename
        INHERITED,              // update
        INHERITED,              // write
    });
    datatype::register_(TYPE_GET_PATH, TYPE_PATH, "get-path!", {
        INHERITED,              // make
        INHERITED,              // random
        INHERITED,              // reflect
        INHERITED,              // to
        INHERITED,              // form
        impl<SLOT_MOLD>(path_mold<TYPE_GET_PATH>),  // mold
        INHERITED,              // eval-path
        INHERITED,              // (empty)
        INHERITED,              // compare
        INHERITED,              // absolute
        INHERITED,              // add
        INHERITED,              // divide
        INHERITED,              // multiply
        INHERITED,              // negate
        INHERITED,              // power
        INHERITED,              // remainder
        INHERITED,              // round
        INHERITED,              // subtract
        INHERITED,              // even?
        INHERITED,              // odd?
        INHERITED,              // and~
        INHERITED,              // complement
        INHERITED,              // or~
        INHERITED,              // xor~
        INHERITED,              // append
        INHERITED,              // at
        INHERITED,              // back
        INHERITED,              // change
        INHERITED,              // clear
        INHERITED,              // copy
        INHERITED,              // find
        INHERITED,              // head
        INHERITED,              // head?
        INHERITED,              // index?
        INHERITED,              // insert
        INHERITED,              // length?
        INHERITED,              // move
        INHERITED,              // next
        INHERITED,              // pick
        INHERITED,              // poke
        INHERITED,              // put
        INHERITED,              // remove
        INHERITED,              // reverse
        INHERITED,              // select
        INHERITED,              // sort
        INHERITED,              // skip
        INHERITED,              // swap
        INHERITED,              // tail
        INHERITED,              // tail?
        INHERITED,              // take
        INHERITED,              // trim
        INHERITED,              // create
        INHERITED,              // close
        INHERITED,              // delete
        INHERITED,              // modify
        INHERITED,              // open
        INHERITED,              // open?
        INHERITED,              // query
        INHERITED,              // read
        INHERITED,              // rename
        INHERITED,              // update
        INHERITED,              // write
    });
}

void init_paren() {
    using namespace actions;
    datatype::register_(TYPE_PAREN, TYPE_BLOCK, "paren!", {
        INHERITED,                    // make
        INHERITED,                    // random
        INHERITED,                    // reflect
        INHERITED,                    // to
        INHERITED,                    // form
        impl<SLOT_MOLD>(paren_mold),  // mold
        INHERITED,                    // eval-path
        INHERITED,                    // (empty)
        INHERITED,                    // compare
        INHERITED,                    // absolute
        INHERITED,                    // add
        INHERITED,                    // divide
        INHERITED,                    // multiply
        INHERITED,                    // negate
        INHERITED,                    // power
        INHERITED,                    // remainder
        INHERITED,                    // round
        INHERITED,                    // subtract
        INHERITED,                    // even?
        INHERITED,                    // odd?
        INHERITED,                    // and~
        INHERITED,                    // complement
        INHERITED,                    // or~
        INHERITED,                    // xor~
        INHERITED,                    // append
        INHERITED,                    // at
        INHERITED,                    // back
        INHERITED,                    // change
        INHERITED,                    // clear
        INHERITED,                    // copy
        INHERITED,                    // find
        INHERITED,                    // head
        INHERITED,                    // head?
        INHERITED,                    // index?
        INHERITED,                    // insert
        INHERITED,                    // length?
        INHERITED,                    // move
        INHERITED,                    // next
        INHERITED,                    // pick
        INHERITED,                    // poke
        INHERITED,                    // put
        INHERITED,                    // remove
        INHERITED,                    // reverse
        INHERITED,                    // select
        INHERITED,                    // sort
        INHERITED,                    // skip
        INHERITED,                    // swap
        INHERITED,                    // tail
        INHERITED,                    // tail?
        INHERITED,                    // take
        UNSUPPORTED,         // trim
        INHERITED,                    // create
        INHERITED,                    // close
        INHERITED,                    // delete
        INHERITED,                    // modify
        INHERITED,                    // open
        INHERITED,                    // open?
        INHERITED,                    // query
        INHERITED,                    // read
        INHERITED,                    // rename
        INHERITED,                    // update
        INHERITED,                    // write
    });
}

}  // namespace kiv::path
