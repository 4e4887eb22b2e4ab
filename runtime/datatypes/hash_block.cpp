// hash!: block!'s row with its own making, text and copying.
#include "runtime/datatypes/hash_block.h"

#include "runtime/cycles.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace kiv::hash_block {

kiv_value* index(kiv_value* blk) {
    cell::set_type(blk, TYPE_HASH);
    blk->data3 = 0;
    kiv_value b = *blk;
    b.data1 = 0;  // the whole block is indexed, whatever the cursor
    node_id table = hashtable::init(block::length_all(&b), &b, hashtable::KIND_HASH, 0);
    blk->data3 = table;
    return blk;
}

namespace {

kiv_value* to(kiv_value* proto, kiv_value* spec, uint32_t) {
    kiv_value s = *spec;
    if (type_of(&s) == TYPE_HASH) {
        kiv_value* result = stack::push();
        *result = unset_value;
        return actions::get<SLOT_COPY>(&s)(&s, result, nullptr, false, nullptr);
    }
    auto block_to = reinterpret_cast<actions::make_fn>(actions::entry(TYPE_BLOCK, SLOT_TO));
    return index(block_to(proto, &s, TYPE_BLOCK));
}

kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    kiv_value s = *spec;
    uint32_t t = type_of(&s);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        if (t == TYPE_FLOAT && float_::integer_range_q(&s)) fire(err::SCRIPT, err::script::out_of_range, &s);
        int64_t n = t == TYPE_FLOAT ? int64_t(float_::get(&s)) : integer::get_value(&s);
        if (n < 1) n = 1;
        kiv_value* result = block::push_only(int32_t(n));
        result->header = TYPE_HASH;
        result->data3 = hashtable::init(uint32_t(n), result, hashtable::KIND_HASH, 0);
        return result;
    }
    if (t == TYPE_BLOCK) {
        kiv_value* result = block::clone(&s, false, false);
        return index(result);
    }
    return to(proto, &s, type);
}

int32_t mold(kiv_value* blk, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg, int32_t part,
             int32_t indent) {
    if (cycles::detect_q(blk, buffer, &part, true)) return part;
    if (!only) {
        string::concatenate_literal(buffer, "make hash! [");
        part -= 12;
    }
    part = block::mold_content(blk, buffer, only, all, flat, arg, part, indent);
    if (!only) {
        string::concatenate_literal(buffer, "]");
        part--;
    }
    return part;
}

kiv_value* copy(kiv_value* blk, kiv_value* result, kiv_value* part, bool deep, kiv_value* types) {
    block::copy(blk, result, part, deep, types);
    result->data1 = 0;
    return index(result);
}

}  // namespace

void init() {
    using namespace actions;
    datatype::register_(TYPE_HASH, TYPE_BLOCK, "hash!", {
        impl<SLOT_MAKE>(make),            // make
        UNSUPPORTED,                      // random
        INHERITED,                        // reflect
        impl<SLOT_TO>(to),                // to
        INHERITED,                        // form
        impl<SLOT_MOLD>(mold),            // mold
        INHERITED,                        // eval-path
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
        INHERITED,                        // append
        INHERITED,                        // at
        INHERITED,                        // back
        INHERITED,                        // change
        INHERITED,                        // clear
        impl<SLOT_COPY>(copy),            // copy
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
        impl<SLOT_SORT>(block::sort),     // sort: the block's, which re-indexes a hash
        INHERITED,                        // skip
        INHERITED,                        // swap
        INHERITED,                        // tail
        INHERITED,                        // tail?
        INHERITED,                        // take
        impl<SLOT_TRIM>(block::trim),     // trim: likewise
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

}  // namespace kiv::hash_block
