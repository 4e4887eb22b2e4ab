// word! and its variants.
#include "runtime/datatypes/word.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"

namespace kiv {

namespace word {

// While start-up loads words, each is anchored in the root block so that it
// is never collected.
static kiv_value* anchored(kiv_value* w) {
    if (!runtime::boot_loading) return w;
    kiv_value copy = *w;
    return copy_cell(&copy, block::alloc_tail(&runtime::root));
}

kiv_value* add_global(int32_t symbol, bool case_insensitive, bool keep_spelling) {
    node_id g = _context::global;
    int32_t index;
    if (_context::find_word_in(g, symbol, case_insensitive, &index) >= 0) {
        kiv_value* entry = context::value_ref(g, uint32_t(index));
        if (case_insensitive && keep_spelling && word::symbol_of(entry) != symbol) {
            // A case variant: its own spelling, sharing the slot.
            kiv_value copy = *entry;
            copy.data2 = uint32_t(symbol);
            return copy_cell(&copy, block::alloc_tail(&runtime::root));
        }
        return entry;
    }
    *series::alloc_tail_cell(series::buffer(_context::cell_of(g)->data2)) = unset_value;
    if (symbol::alias_of(symbol) > 0) {
        int32_t shared = _context::find_word(g, symbol, true);
        context::value_ref(g, uint32_t(index))->data3 = uint32_t(shared);
    }
    return context::value_ref(g, uint32_t(index));
}

kiv_value* load(const char* name) { return anchored(add_global(symbol::make(name), true, true)); }

kiv_value* from_symbol(int32_t symbol) { return anchored(add_global(symbol, false, false)); }

kiv_value* make_at(int32_t symbol, kiv_value* cell) {
    kiv_value* entry = add_global(symbol, true, false);
    uint32_t index = entry->data3;
    cell->header = (cell->header & ~TYPE_MASK) | TYPE_WORD;
    cell->data1 = _context::global;
    cell->data2 = uint32_t(symbol);
    cell->data3 = index;
    return cell;
}

kiv_value* make_in(int32_t symbol, kiv_value* block) {
    kiv_value w{0, 0, 0, 0};
    make_at(symbol, &w);
    return copy_cell(&w, block::alloc_tail(block));
}

kiv_value* push_symbol(int32_t symbol) {
    kiv_value w{0, 0, 0, 0};
    make_at(symbol, &w);
    return stack::push_value(&w);
}

kiv_value* push(const kiv_value* w) { return stack::push_value(w); }

kiv_value* get(const kiv_value* w) {
    kiv_value* value = _context::get(w);
    if (type_of(value) == TYPE_UNSET) fire(err::SCRIPT, err::script::no_value, w);
    return stack::push_value(value);
}

kiv_value* set() {
    kiv_value* w = stack::arguments;
    kiv_value* value = stack::arguments + 1;
    if (type_of(value) == TYPE_UNSET) fire(err::SCRIPT, err::script::need_value, w);
    kiv_value v = *value;
    _context::set(w, &v);
    stack::set_last(&v);
    return stack::arguments;
}

// Actions -------------------------------------------------------------------------

static kiv_value* make(kiv_value*, kiv_value* spec, uint32_t type) {
    kiv_value result = *spec;
    switch (type_of(spec)) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
            break;
        case TYPE_ISSUE:
        case TYPE_REFINEMENT:
            // The name is checked to scan as a word once the lexer exists.
            if (_context::bind_word(_context::global, &result) < 0) result = *spec;
            break;
        case TYPE_DATATYPE:
            result = datatype::table[spec->data1].word;
            break;
        case TYPE_LOGIC:
            result = *load(logic::get(spec) ? "true" : "false");
            break;
        case TYPE_STRING:
        case TYPE_CHAR: {
            kiv_value text = *spec;
            if (type_of(spec) == TYPE_CHAR) {
                string::make_at(&text, 1);
                string::append_char(series::buffer(text.data2), spec->data2);
            }
            lexer::load_single(&text, &result);
            if (!any_word_q(type_of(&result))) fire(err::SCRIPT, err::script::invalid_chars);
            break;
        }
        default: {
            kiv_value dt;
            datatype::make_at(&dt, type);
            fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
        }
    }
    result.header = type;
    return stack::push_value(&result);
}

// The name as spelled, counted in code points.
static int32_t append_name(const kiv_value* w, kiv_value* buffer) {
    kiv_value* rec = symbol::get(word::symbol_of(w));
    kiv_value name{TYPE_STRING, 0, rec->data2, 0};
    string::concatenate(buffer, &name, -1, 0, true, string::APPEND);
    return int32_t(string::ks_length_q(&name));
}

static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    return part - append_name(value, buffer);
}

static int32_t form_as_mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value*,
                            int32_t part, int32_t) {
    return part - append_name(value, buffer);
}

template <char Mark>
static int32_t mold_marked(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value*,
                           int32_t part, int32_t) {
    const char mark[2] = {Mark, 0};
    string::concatenate_literal(buffer, mark);
    return part - 1 - append_name(value, buffer);
}

static int32_t mold_set_word(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value*,
                             int32_t part, int32_t) {
    part -= append_name(value, buffer);
    string::concatenate_literal(buffer, ":");
    return part - 1;
}

static int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    uint32_t t1 = type_of(value1), t2 = type_of(value2);
    if (!any_word_q(t2) || (t2 == TYPE_ISSUE && t1 != TYPE_ISSUE)) return COMPARE_INCOMPARABLE;
    int32_t s1 = symbol_of(value1), s2 = symbol_of(value2);
    bool word_pair = (t1 == TYPE_WORD && t2 == TYPE_LIT_WORD) || (t1 == TYPE_LIT_WORD && t2 == TYPE_WORD);
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_FIND:
            return symbol::resolve(s1) == symbol::resolve(s2) ? 0 : 1;
        case COMP_STRICT_EQUAL:
            return t1 == t2 && s1 == s2 ? 0 : 1;
        case COMP_SAME:
            return s1 == s2 && value1->data1 == value2->data1 && t1 == t2 ? 0 : 1;
        case COMP_EQUAL_SPELLING:
            return (word_pair || t1 == t2) && s1 == s2 ? 0 : 1;
        case COMP_EQUAL_FOLDED:
            return (word_pair || t1 == t2) && symbol::resolve(s1) == symbol::resolve(s2) ? 0 : 1;
        default: {
            kiv_value a{TYPE_STRING, 0, symbol::get(s1)->data2, 0};
            kiv_value b{TYPE_STRING, 0, symbol::get(s2)->data2, 0};
            return string::compare_series(&a, &b, op, false);
        }
    }
}

static void index_q() {
    int32_t index = index_of(stack::arguments);
    if (index < 0) none::return_();
    else integer::return_(index + 1);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_WORD, TYPE_SYMBOL, "word!", {
        impl<SLOT_MAKE>(make),          // make
        UNSUPPORTED,                    // random
        UNSUPPORTED,                    // reflect
        impl<SLOT_TO>(make),            // to
        impl<SLOT_FORM>(form),          // form
        impl<SLOT_MOLD>(form_as_mold),  // mold
        UNSUPPORTED,                    // eval-path
        UNSUPPORTED,                    // (empty)
        impl<SLOT_COMPARE>(compare),    // compare
        UNSUPPORTED,                    // absolute
        UNSUPPORTED,                    // add
        UNSUPPORTED,                    // divide
        UNSUPPORTED,                    // multiply
        UNSUPPORTED,                    // negate
        UNSUPPORTED,                    // power
        UNSUPPORTED,                    // remainder
        UNSUPPORTED,                    // round
        UNSUPPORTED,                    // subtract
        UNSUPPORTED,                    // even?
        UNSUPPORTED,                    // odd?
        UNSUPPORTED,                    // and~
        UNSUPPORTED,                    // complement
        UNSUPPORTED,                    // or~
        UNSUPPORTED,                    // xor~
        UNSUPPORTED,                    // append
        UNSUPPORTED,                    // at
        UNSUPPORTED,                    // back
        UNSUPPORTED,                    // change
        UNSUPPORTED,                    // clear
        UNSUPPORTED,                    // copy
        UNSUPPORTED,                    // find
        UNSUPPORTED,                    // head
        UNSUPPORTED,                    // head?
        impl<SLOT_INDEX_Q>(index_q),    // index?
        UNSUPPORTED,                    // insert
        UNSUPPORTED,                    // length?
        UNSUPPORTED,                    // move
        UNSUPPORTED,                    // next
        UNSUPPORTED,                    // pick
        UNSUPPORTED,                    // poke
        UNSUPPORTED,                    // put
        UNSUPPORTED,                    // remove
        UNSUPPORTED,                    // reverse
        UNSUPPORTED,                    // select
        UNSUPPORTED,                    // sort
        UNSUPPORTED,                    // skip
        UNSUPPORTED,                    // swap
        UNSUPPORTED,                    // tail
        UNSUPPORTED,                    // tail?
        UNSUPPORTED,                    // take
        UNSUPPORTED,                    // trim
        UNSUPPORTED,                    // create
        UNSUPPORTED,                    // close
        UNSUPPORTED,                    // delete
        UNSUPPORTED,                    // modify
        UNSUPPORTED,                    // open
        UNSUPPORTED,                    // open?
        UNSUPPORTED,                    // query
        UNSUPPORTED,                    // read
        UNSUPPORTED,                    // rename
        UNSUPPORTED,                    // update
        UNSUPPORTED,                    // write
    });
    datatype::register_(TYPE_LIT_WORD, TYPE_WORD, "lit-word!", {
        INHERITED,              // make
        UNSUPPORTED,            // random
        UNSUPPORTED,            // reflect
        INHERITED,              // to
        INHERITED,              // form
        impl<SLOT_MOLD>(mold_marked<'\''>),  // mold
        UNSUPPORTED,            // eval-path
        UNSUPPORTED,            // (empty)
        INHERITED,              // compare
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
        INHERITED,              // index?
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
    datatype::register_(TYPE_SET_WORD, TYPE_WORD, "set-word!", {
        INHERITED,              // make
        UNSUPPORTED,            // random
        UNSUPPORTED,            // reflect
        INHERITED,              // to
        INHERITED,              // form
        impl<SLOT_MOLD>(mold_set_word),  // mold
        UNSUPPORTED,            // eval-path
        UNSUPPORTED,            // (empty)
        INHERITED,              // compare
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
        INHERITED,              // index?
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
    datatype::register_(TYPE_GET_WORD, TYPE_WORD, "get-word!", {
        INHERITED,              // make
        UNSUPPORTED,            // random
        UNSUPPORTED,            // reflect
        INHERITED,              // to
        INHERITED,              // form
        impl<SLOT_MOLD>(mold_marked<':'>),  // mold
        UNSUPPORTED,            // eval-path
        UNSUPPORTED,            // (empty)
        INHERITED,              // compare
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
        INHERITED,              // index?
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
    datatype::register_(TYPE_REFINEMENT, TYPE_WORD, "refinement!", {
        INHERITED,              // make
        UNSUPPORTED,            // random
        UNSUPPORTED,            // reflect
        INHERITED,              // to
        INHERITED,              // form
        impl<SLOT_MOLD>(mold_marked<'/'>),  // mold
        UNSUPPORTED,            // eval-path
        UNSUPPORTED,            // (empty)
        INHERITED,              // compare
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

}  // namespace word

kiv_value* refinement::make_in_root(const char* name) {
    kiv_value r{TYPE_REFINEMENT, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
    return copy_cell(&r, block::alloc_tail(&runtime::root));
}

}  // namespace kiv
