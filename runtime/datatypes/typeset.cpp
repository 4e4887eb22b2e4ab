// typeset!: construction, the set operations, membership, comparison and the
// text forms.
#include "runtime/datatypes/typeset.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::typeset {

namespace {

constexpr kiv_value EMPTY{TYPE_TYPESET, 0, 0, 0};

// The value of a word standing for a type; a word without one is a
// `no-value` error.
kiv_value word_value(const kiv_value* w) {
    kiv_value word = *w;
    if (!word.data1) fire(err::SCRIPT, err::script::no_value, &word);
    kiv_value v = *_context::get(&word);
    if (type_of(&v) == TYPE_UNSET) fire(err::SCRIPT, err::script::no_value, &word);
    return v;
}

void merge(kiv_value* ts, const kiv_value* other) {
    ts->data1 |= other->data1;
    ts->data2 |= other->data2;
    ts->data3 |= other->data3;
}

// A registered id names a type; the gaps and the ids past the highest one
// do not.
bool named_q(uint32_t id) { return id <= datatype::top_id && datatype::table[id].name; }

}  // namespace

// Constructors ---------------------------------------------------------------------

kiv_value* make_in(kiv_value* blk, uint32_t word1, uint32_t word2, uint32_t word3) {
    kiv_value* cell = block::alloc_tail(blk);
    *cell = kiv_value{TYPE_TYPESET, word1, word2, word3};
    return cell;
}

kiv_value* make_default_in(kiv_value* blk) {
    kiv_value ts{TYPE_TYPESET, ~0u, ~0u, ~0u};
    bits_of(&ts)[TYPE_UNSET >> 3] &= uint8_t(~(0x80 >> (TYPE_UNSET & 7)));
    return make_in(blk, ts.data1, ts.data2, ts.data3);
}

kiv_value* make_from_block(kiv_value* blk, const kiv_value* types) {
    kiv_value ts = EMPTY;
    kiv_value spec = *types;
    for (uint32_t i = spec.data1; i < block::length_all(&spec); i++) {
        kiv_value given = block::cells(&spec)[i];
        kiv_value v = type_of(&given) == TYPE_WORD ? word_value(&given) : given;
        switch (type_of(&v)) {
            case TYPE_DATATYPE: set_bit(&ts, v.data1); break;
            case TYPE_TYPESET: merge(&ts, &v); break;
            case TYPE_WORD: set_bit(&ts, TYPE_OBJECT); break;
            case TYPE_BLOCK: break;
            default: fire(err::SCRIPT, err::script::invalid_type_spec, &given);
        }
    }
    return make_in(blk, ts.data1, ts.data2, ts.data3);
}

kiv_value* push(const kiv_value* ts) { return stack::push_value(ts); }

void set_type(kiv_value* ts, const kiv_value* value) {
    kiv_value given = *value;
    kiv_value v = type_of(&given) == TYPE_WORD ? word_value(&given) : given;
    switch (type_of(&v)) {
        case TYPE_DATATYPE: set_bit(ts, v.data1); break;
        case TYPE_TYPESET: merge(ts, &v); break;
        default: fire(err::SCRIPT, err::script::invalid_arg, &given);
    }
}

uint32_t count(const kiv_value* ts) {
    uint32_t n = 0;
    for (uint32_t id = 1; id <= datatype::top_id; id++)
        if (named_q(id) && has_q(ts, id)) n++;
    return n;
}

kiv_value* to_block(const kiv_value* ts, kiv_value* result) {
    kiv_value members = *ts;
    *result = unset_value;
    block::make_at(result, 4);
    for (uint32_t id = 1; id <= datatype::top_id; id++)
        if (named_q(id) && has_q(&members, id)) block::append_copy(result, &datatype::table[id].word);
    return result;
}

// Set operations -------------------------------------------------------------------

void do_set_op(int32_t op) {
    kiv_value a = stack::arguments[0];
    kiv_value b = stack::arguments[1];
    if (op != OP_UNIQUE) {
        if (type_of(&b) == TYPE_DATATYPE) {
            uint32_t id = b.data1;
            b = EMPTY;
            set_bit(&b, id);
        } else if (type_of(&b) != TYPE_TYPESET) {
            fire(err::SCRIPT, err::script::invalid_arg, &b);
        }
    }
    auto combine = [op](uint32_t x, uint32_t y) {
        switch (op) {
            case OP_OR: case OP_UNION: return x | y;
            case OP_AND: case OP_INTERSECT: return x & y;
            case OP_XOR: case OP_DIFFERENCE: return x ^ y;
            case OP_EXCLUDE: return x & ~y;
            default: return x;  // unique: a typeset has no duplicates
        }
    };
    kiv_value r{TYPE_TYPESET, combine(a.data1, b.data1), combine(a.data2, b.data2), combine(a.data3, b.data3)};
    stack::set_last(&r);
}

// Actions --------------------------------------------------------------------------

namespace {

kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    if (type_of(spec) == TYPE_TYPESET) return spec;
    if (type_of(spec) != TYPE_BLOCK) {
        kiv_value dt;
        datatype::make_at(&dt, TYPE_TYPESET);
        fire(err::SCRIPT, err::script::bad_make_arg, &dt, spec);
    }
    kiv_value values = *spec;
    kiv_value* ts = stack::push_value(&EMPTY);
    for (uint32_t i = values.data1; i < block::length_all(&values); i++) set_type(ts, block::cells(&values) + i);
    return ts;
}

int32_t mold(kiv_value* value, kiv_value* buffer, bool only, bool, bool, kiv_value* arg, int32_t part,
             int32_t) {
    kiv_value ts = *value;
    if (!only) {
        string::concatenate_literal(buffer, "make typeset! [");
        part -= 15;
    }
    bool named = false;
    for (uint32_t id = 1; id <= datatype::top_id; id++) {
        if (arg && part <= 0) break;
        if (!named_q(id) || !has_q(&ts, id)) continue;
        const datatype::entry& e = datatype::table[id];
        string::concatenate_literal(buffer, e.name);
        string::concatenate_literal(buffer, " ");
        part -= int32_t(e.name_length) + 2;
        named = true;
    }
    series_buffer* b = series::buffer(buffer->data2);
    // The space after the last name becomes the closing bracket, or goes.
    if (named) {
        string::truncate_to(b, series::used_units(b) - 1);
        part++;
    }
    if (!only) {
        string::concatenate_literal(buffer, "]");
        part--;
    }
    return part;
}

int32_t form(kiv_value* value, kiv_value* buffer, kiv_value* arg, int32_t part) {
    return mold(value, buffer, false, false, false, arg, part, 0);
}

int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    if (type_of(value2) != TYPE_TYPESET) return COMPARE_INCOMPARABLE;
    switch (op) {
        case COMP_SORT: case COMP_CASE_SORT: {
            uint32_t a = count(value1), b = count(value2);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        case COMP_LESSER: case COMP_LESSER_EQUAL: case COMP_GREATER: case COMP_GREATER_EQUAL:
            return COMPARE_INCOMPARABLE;
        default:
            return value1->data1 == value2->data1 && value1->data2 == value2->data2 &&
                           value1->data3 == value2->data3
                       ? 0
                       : 1;
    }
}

template <int32_t Op>
void bitwise() {
    do_set_op(Op);
}

kiv_value* complement(kiv_value* value) {
    kiv_value r{TYPE_TYPESET, ~value->data1, ~value->data2, ~value->data3};
    return stack::push_value(&r);
}

kiv_value* find(kiv_value* ts, kiv_value* value, kiv_value*, bool, bool, bool, bool, kiv_value*, kiv_value*,
                bool, bool, bool, bool) {
    if (type_of(value) != TYPE_DATATYPE) fire(err::SCRIPT, err::script::invalid_arg, value);
    return const_cast<kiv_value*>(has_q(ts, value->data1) ? &true_value : &false_value);
}

}  // namespace

void init() {
    using namespace actions;
    datatype::register_(TYPE_TYPESET, 0, "typeset!", {
        impl<SLOT_MAKE>(make),              // make
        UNSUPPORTED,                        // random
        UNSUPPORTED,                        // reflect
        impl<SLOT_TO>(make),                // to
        impl<SLOT_FORM>(form),              // form
        impl<SLOT_MOLD>(mold),              // mold
        UNSUPPORTED,                        // eval-path
        UNSUPPORTED,                        // (empty)
        impl<SLOT_COMPARE>(compare),        // compare
        UNSUPPORTED,                        // absolute
        UNSUPPORTED,                        // add
        UNSUPPORTED,                        // divide
        UNSUPPORTED,                        // multiply
        UNSUPPORTED,                        // negate
        UNSUPPORTED,                        // power
        UNSUPPORTED,                        // remainder
        UNSUPPORTED,                        // round
        UNSUPPORTED,                        // subtract
        UNSUPPORTED,                        // even?
        UNSUPPORTED,                        // odd?
        impl<SLOT_AND_T>(bitwise<OP_AND>),  // and~
        impl<SLOT_COMPLEMENT>(complement),  // complement
        impl<SLOT_OR_T>(bitwise<OP_OR>),    // or~
        impl<SLOT_XOR_T>(bitwise<OP_XOR>),  // xor~
        UNSUPPORTED,                        // append
        UNSUPPORTED,                        // at
        UNSUPPORTED,                        // back
        UNSUPPORTED,                        // change
        UNSUPPORTED,                        // clear
        UNSUPPORTED,                        // copy
        impl<SLOT_FIND>(find),              // find
        UNSUPPORTED,                        // head
        UNSUPPORTED,                        // head?
        UNSUPPORTED,                        // index?
        UNSUPPORTED,                        // insert
        UNSUPPORTED,                        // length?
        UNSUPPORTED,                        // move
        UNSUPPORTED,                        // next
        UNSUPPORTED,                        // pick
        UNSUPPORTED,                        // poke
        UNSUPPORTED,                        // put
        UNSUPPORTED,                        // remove
        UNSUPPORTED,                        // reverse
        UNSUPPORTED,                        // select
        UNSUPPORTED,                        // sort
        UNSUPPORTED,                        // skip
        UNSUPPORTED,                        // swap
        UNSUPPORTED,                        // tail
        UNSUPPORTED,                        // tail?
        UNSUPPORTED,                        // take
        UNSUPPORTED,                        // trim
        UNSUPPORTED,                        // create
        UNSUPPORTED,                        // close
        UNSUPPORTED,                        // delete
        UNSUPPORTED,                        // modify
        UNSUPPORTED,                        // open
        UNSUPPORTED,                        // open?
        UNSUPPORTED,                        // query
        UNSUPPORTED,                        // read
        UNSUPPORTED,                        // rename
        UNSUPPORTED,                        // update
        UNSUPPORTED,                        // write
    });
}

}  // namespace kiv::typeset
