// native!, action! and op!.
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

[[noreturn]] void bad_make(uint32_t type, const kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, type);
    fire(err::SCRIPT, err::script::bad_make_arg, &dt, spec);
}

// make native! [spec index] and make action! [spec index].
template <uint32_t Type>
kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    if (type_of(spec) != TYPE_BLOCK || block::ks_length_q(spec) != 2) bad_make(Type, spec);
    kiv_value args = block::cells(spec)[spec->data1];
    kiv_value index = block::cells(spec)[spec->data1 + 1];
    if (type_of(&args) != TYPE_BLOCK) bad_make(Type, spec);
    int32_t limit = Type == TYPE_NATIVE ? int32_t(natives::TABLE_SIZE) : int32_t(ACTION_SLOTS);
    if (type_of(&index) != TYPE_INTEGER || integer::get_value(&index) < 1 || integer::get_value(&index) > limit)
        bad_make(Type, spec);
    kiv_value* cell = stack::push();
    *cell = unset_value;
    // A context of the arguments, kept for the interpreter's argument cache.
    node_id ctx = _context::make_from_block(&args, true, false, CTX_FUNCTION);
    node_id cache = memory::alloc_cells(2);
    series_buffer* b = series::buffer(cache);
    auto* cells = reinterpret_cast<kiv_value*>(b->offset);
    cells[0] = *_context::cell_of(ctx);
    cells[1] = none_value;
    b->tail = b->offset + 2 * sizeof(kiv_value);
    cell = stack::top - 1;
    *cell = kiv_value{Type, uint32_t(integer::get_value(&index)), args.data2, cache};
    return cell;
}

bool field_is(uint32_t symbol, const char* name) {
    return symbol::resolve(int32_t(symbol)) == symbol::resolve(symbol::make(name));
}

void reflect(kiv_value* value, uint32_t field) {
    if (field_is(field, "spec")) {
        kiv_value spec{TYPE_BLOCK, 0, value->data2, 0};
        stack::set_last(&spec);
        return;
    }
    if (!field_is(field, "body")) fire(err::INTERNAL, err::internal::not_done);
    uint32_t wrapped = type_of(value) == TYPE_OP ? op_wrapped_type(value) : type_of(value);
    if (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) {
        stack::set_last(function::extra_cell_of(value, function::EXTRA_BODY));
        return;
    }
    integer::return_(int32_t(value->data1));
}

template <uint32_t Type>
int32_t form(kiv_value*, kiv_value* buffer, kiv_value*, int32_t part) {
    const char* text = Type == TYPE_NATIVE ? "?native?" : Type == TYPE_ACTION ? "?action?" : "?op?";
    string::concatenate_literal(buffer, text);
    return part - int32_t(std::strlen(text));
}

int32_t mold_spec(const kiv_value* value, kiv_value* buffer, bool all, bool flat, kiv_value* arg, int32_t part) {
    kiv_value spec{TYPE_BLOCK, 0, value->data2, 0};
    return actions::mold_typed(&spec, buffer, false, all, flat, arg, part, 0);
}

template <uint32_t Type>
int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool flat, kiv_value* arg, int32_t part,
             int32_t) {
    const char* lead = Type == TYPE_NATIVE ? "make native! [" : "make action! [";
    string::concatenate_literal(buffer, lead);
    part = mold_spec(value, buffer, all, flat, arg, part - int32_t(std::strlen(lead)));
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

int32_t op_mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool flat, kiv_value* arg, int32_t part,
                int32_t) {
    bool fn = op_wrapped_type(value) == TYPE_FUNCTION;
    string::concatenate_literal(buffer, fn ? "make op! func " : "make op! [");
    part = mold_spec(value, buffer, all, flat, arg, part - (fn ? 14 : 10));
    if (!fn) {
        string::concatenate_literal(buffer, "]");
        return part - 1;
    }
    kiv_value body = *function::extra_cell_of(value, function::EXTRA_BODY);
    if (type_of(&body) == TYPE_BLOCK) part = actions::mold_typed(&body, buffer, false, all, flat, arg, part, 0);
    return part;
}

template <uint32_t Type>
int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    if (type_of(value2) != Type || !logic::equality_or_sort_q(op)) return COMPARE_INCOMPARABLE;
    int32_t a = int32_t(value1->data1), b = int32_t(value2->data1);
    return a < b ? -1 : a > b ? 1 : 0;
}

kiv_value* op_make(kiv_value*, kiv_value* spec, uint32_t) {
    uint32_t t = type_of(spec);
    if (t != TYPE_ACTION && t != TYPE_NATIVE && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
        kiv_value dt;
        datatype::make_at(&dt, t);
        fire(err::SCRIPT, err::script::invalid_type, &dt);
    }
    kiv_value spec_block{TYPE_BLOCK, 0, spec->data2, 0};
    if (!op::check_spec(&spec_block)) fire(err::SCRIPT, err::script::bad_op_spec);
    kiv_value result = *spec;
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) *function::extra_cell_of(spec, function::EXTRA_OP) = result;
    result.header = TYPE_OP | (t << OP_WRAPPED_SHIFT);
    return stack::push_value(&result);
}

}  // namespace

bool op::check_spec(const kiv_value* spec) {
    int32_t count = 0;
    bool plain_seen = false;
    for (uint32_t i = 0; i < block::length_all(spec); i++) {
        kiv_value* v = block::cells(spec) + i;
        switch (type_of(v)) {
            case TYPE_WORD:
                count++;
                plain_seen = true;
                break;
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
                if (!plain_seen) return false;
                count++;
                break;
            case TYPE_SET_WORD:
                return count == 2;
            case TYPE_REFINEMENT: {
                int32_t s = symbol::resolve(word::symbol_of(v));
                bool local = s == symbol::resolve(symbol::make("local")) || s == symbol::resolve(symbol::make("extern"));
                return local && count == 2;
            }
            default:
                break;
        }
    }
    return count == 2;
}

void native::init() {
    using namespace actions;
    datatype::register_(TYPE_NATIVE, 0, "native!", {
        impl<SLOT_MAKE>(make<TYPE_NATIVE>),        // make
        UNSUPPORTED,                               // random
        impl<SLOT_REFLECT>(reflect),               // reflect
        UNSUPPORTED,                               // to
        impl<SLOT_FORM>(form<TYPE_NATIVE>),        // form
        impl<SLOT_MOLD>(mold<TYPE_NATIVE>),        // mold
        UNSUPPORTED,                               // eval-path
        UNSUPPORTED,                               // (empty)
        impl<SLOT_COMPARE>(compare<TYPE_NATIVE>),  // compare
        UNSUPPORTED,                               // absolute
        UNSUPPORTED,                               // add
        UNSUPPORTED,                               // divide
        UNSUPPORTED,                               // multiply
        UNSUPPORTED,                               // negate
        UNSUPPORTED,                               // power
        UNSUPPORTED,                               // remainder
        UNSUPPORTED,                               // round
        UNSUPPORTED,                               // subtract
        UNSUPPORTED,                               // even?
        UNSUPPORTED,                               // odd?
        UNSUPPORTED,                               // and~
        UNSUPPORTED,                               // complement
        UNSUPPORTED,                               // or~
        UNSUPPORTED,                               // xor~
        UNSUPPORTED,                               // append
        UNSUPPORTED,                               // at
        UNSUPPORTED,                               // back
        UNSUPPORTED,                               // change
        UNSUPPORTED,                               // clear
        UNSUPPORTED,                               // copy
        UNSUPPORTED,                               // find
        UNSUPPORTED,                               // head
        UNSUPPORTED,                               // head?
        UNSUPPORTED,                               // index?
        UNSUPPORTED,                               // insert
        UNSUPPORTED,                               // length?
        UNSUPPORTED,                               // move
        UNSUPPORTED,                               // next
        UNSUPPORTED,                               // pick
        UNSUPPORTED,                               // poke
        UNSUPPORTED,                               // put
        UNSUPPORTED,                               // remove
        UNSUPPORTED,                               // reverse
        UNSUPPORTED,                               // select
        UNSUPPORTED,                               // sort
        UNSUPPORTED,                               // skip
        UNSUPPORTED,                               // swap
        UNSUPPORTED,                               // tail
        UNSUPPORTED,                               // tail?
        UNSUPPORTED,                               // take
        UNSUPPORTED,                               // trim
        UNSUPPORTED,                               // create
        UNSUPPORTED,                               // close
        UNSUPPORTED,                               // delete
        UNSUPPORTED,                               // modify
        UNSUPPORTED,                               // open
        UNSUPPORTED,                               // open?
        UNSUPPORTED,                               // query
        UNSUPPORTED,                               // read
        UNSUPPORTED,                               // rename
        UNSUPPORTED,                               // update
        UNSUPPORTED,                               // write
    });
    datatype::register_(TYPE_ACTION, TYPE_NATIVE, "action!", {
        impl<SLOT_MAKE>(make<TYPE_ACTION>),        // make
        UNSUPPORTED,                               // random
        INHERITED,                                 // reflect
        UNSUPPORTED,                               // to
        impl<SLOT_FORM>(form<TYPE_ACTION>),        // form
        impl<SLOT_MOLD>(mold<TYPE_ACTION>),        // mold
        UNSUPPORTED,                               // eval-path
        UNSUPPORTED,                               // (empty)
        impl<SLOT_COMPARE>(compare<TYPE_ACTION>),  // compare
        UNSUPPORTED,                               // absolute
        UNSUPPORTED,                               // add
        UNSUPPORTED,                               // divide
        UNSUPPORTED,                               // multiply
        UNSUPPORTED,                               // negate
        UNSUPPORTED,                               // power
        UNSUPPORTED,                               // remainder
        UNSUPPORTED,                               // round
        UNSUPPORTED,                               // subtract
        UNSUPPORTED,                               // even?
        UNSUPPORTED,                               // odd?
        UNSUPPORTED,                               // and~
        UNSUPPORTED,                               // complement
        UNSUPPORTED,                               // or~
        UNSUPPORTED,                               // xor~
        UNSUPPORTED,                               // append
        UNSUPPORTED,                               // at
        UNSUPPORTED,                               // back
        UNSUPPORTED,                               // change
        UNSUPPORTED,                               // clear
        UNSUPPORTED,                               // copy
        UNSUPPORTED,                               // find
        UNSUPPORTED,                               // head
        UNSUPPORTED,                               // head?
        UNSUPPORTED,                               // index?
        UNSUPPORTED,                               // insert
        UNSUPPORTED,                               // length?
        UNSUPPORTED,                               // move
        UNSUPPORTED,                               // next
        UNSUPPORTED,                               // pick
        UNSUPPORTED,                               // poke
        UNSUPPORTED,                               // put
        UNSUPPORTED,                               // remove
        UNSUPPORTED,                               // reverse
        UNSUPPORTED,                               // select
        UNSUPPORTED,                               // sort
        UNSUPPORTED,                               // skip
        UNSUPPORTED,                               // swap
        UNSUPPORTED,                               // tail
        UNSUPPORTED,                               // tail?
        UNSUPPORTED,                               // take
        UNSUPPORTED,                               // trim
        UNSUPPORTED,                               // create
        UNSUPPORTED,                               // close
        UNSUPPORTED,                               // delete
        UNSUPPORTED,                               // modify
        UNSUPPORTED,                               // open
        UNSUPPORTED,                               // open?
        UNSUPPORTED,                               // query
        UNSUPPORTED,                               // read
        UNSUPPORTED,                               // rename
        UNSUPPORTED,                               // update
        UNSUPPORTED,                               // write
    });
    datatype::register_(TYPE_OP, TYPE_NATIVE, "op!", {
        impl<SLOT_MAKE>(op_make),              // make
        UNSUPPORTED,                           // random
        INHERITED,                             // reflect
        UNSUPPORTED,                           // to
        impl<SLOT_FORM>(form<TYPE_OP>),        // form
        impl<SLOT_MOLD>(op_mold),              // mold
        UNSUPPORTED,                           // eval-path
        UNSUPPORTED,                           // (empty)
        impl<SLOT_COMPARE>(compare<TYPE_OP>),  // compare
        UNSUPPORTED,                           // absolute
        UNSUPPORTED,                           // add
        UNSUPPORTED,                           // divide
        UNSUPPORTED,                           // multiply
        UNSUPPORTED,                           // negate
        UNSUPPORTED,                           // power
        UNSUPPORTED,                           // remainder
        UNSUPPORTED,                           // round
        UNSUPPORTED,                           // subtract
        UNSUPPORTED,                           // even?
        UNSUPPORTED,                           // odd?
        UNSUPPORTED,                           // and~
        UNSUPPORTED,                           // complement
        UNSUPPORTED,                           // or~
        UNSUPPORTED,                           // xor~
        UNSUPPORTED,                           // append
        UNSUPPORTED,                           // at
        UNSUPPORTED,                           // back
        UNSUPPORTED,                           // change
        UNSUPPORTED,                           // clear
        UNSUPPORTED,                           // copy
        UNSUPPORTED,                           // find
        UNSUPPORTED,                           // head
        UNSUPPORTED,                           // head?
        UNSUPPORTED,                           // index?
        UNSUPPORTED,                           // insert
        UNSUPPORTED,                           // length?
        UNSUPPORTED,                           // move
        UNSUPPORTED,                           // next
        UNSUPPORTED,                           // pick
        UNSUPPORTED,                           // poke
        UNSUPPORTED,                           // put
        UNSUPPORTED,                           // remove
        UNSUPPORTED,                           // reverse
        UNSUPPORTED,                           // select
        UNSUPPORTED,                           // sort
        UNSUPPORTED,                           // skip
        UNSUPPORTED,                           // swap
        UNSUPPORTED,                           // tail
        UNSUPPORTED,                           // tail?
        UNSUPPORTED,                           // take
        UNSUPPORTED,                           // trim
        UNSUPPORTED,                           // create
        UNSUPPORTED,                           // close
        UNSUPPORTED,                           // delete
        UNSUPPORTED,                           // modify
        UNSUPPORTED,                           // open
        UNSUPPORTED,                           // open?
        UNSUPPORTED,                           // query
        UNSUPPORTED,                           // read
        UNSUPPORTED,                           // rename
        UNSUPPORTED,                           // update
        UNSUPPORTED,                           // write
    });
}

}  // namespace kiv
