// function! and routine!.
#include "runtime/datatypes/function.h"

#include <cstring>
#include <vector>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv {

namespace function {

namespace {

int32_t resolved(const char* name) { return symbol::resolve(symbol::make(name)); }
int32_t resolved(const kiv_value* w) { return symbol::resolve(word::symbol_of(w)); }

// The names the spec checks and the local collection look for, each looked
// up on its first use only: a symbol keeps its id for the life of the process.
enum class known_name { trace, no_trace, local, return_, extern_, foreach, remove_each, repeat, count };
int32_t known(known_name k) {
    static const char* const names[size_t(known_name::count)] = {
        "trace", "no-trace", "local", "return", "extern", "foreach", "remove-each", "repeat"};
    static int32_t ids[size_t(known_name::count)];
    int32_t& id = ids[size_t(k)];
    if (!id) id = resolved(names[size_t(k)]);
    return id;
}

[[noreturn]] void bad_def(const kiv_value* spec) { fire(err::SCRIPT, err::script::bad_func_def, spec); }

bool argument_word_q(uint32_t t) { return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }

// A type block names datatypes, typesets, or words holding one of them (or
// a word).
void check_types(const kiv_value* types) {
    for (uint32_t i = types->data1; i < block::length_all(types); i++) {
        kiv_value v = block::cells(types)[i];
        uint32_t t = type_of(&v);
        if (t == TYPE_DATATYPE || t == TYPE_TYPESET) continue;
        if (t == TYPE_WORD && word::index_of(&v) >= 0) {
            uint32_t held = type_of(_context::get(&v));
            if (held == TYPE_DATATYPE || held == TYPE_TYPESET || held == TYPE_WORD) continue;
        }
        fire(err::SCRIPT, err::script::invalid_type_spec, &v);
    }
}

}  // namespace

uint32_t check_spec(const kiv_value* spec) {
    kiv_value s = *spec;
    uint32_t length = block::length_all(&s);
    uint32_t i = s.data1 < length ? s.data1 : length;
    uint32_t flags = 0;
    auto at = [&](uint32_t k) { return block::cells(&s)[k]; };
    if (i < length && type_of(&block::cells(&s)[i]) == TYPE_BLOCK) {
        kiv_value attributes = at(i);
        for (uint32_t k = attributes.data1; k < block::length_all(&attributes); k++) {
            kiv_value a = block::cells(&attributes)[k];
            if (type_of(&a) != TYPE_WORD) bad_def(spec);
            if (resolved(&a) == known(known_name::trace)) flags |= FUNCTION_TRACE;
            if (resolved(&a) == known(known_name::no_trace)) flags |= FUNCTION_NO_TRACE;
        }
        i++;
    }
    enum { START, ARG, ARG_DOC, RETURN, OTHER } prev = START;
    bool seen_local = false, seen_return = false;
    std::vector<int32_t> names;
    auto add_name = [&](const kiv_value* w) {
        int32_t r = resolved(w);
        for (int32_t n : names)
            if (n == r) {
                kiv_value dup = *w;
                fire(err::SCRIPT, err::script::dup_vars, &dup);
            }
        names.push_back(r);
    };
    int32_t local = known(known_name::local), return_ = known(known_name::return_);
    for (; i < length; i++) {
        kiv_value v = at(i);
        uint32_t t = type_of(&v);
        uint32_t next = i + 1 < length ? type_of(&block::cells(&s)[i + 1]) : 0;
        switch (t) {
            case TYPE_STRING:
                prev = prev == ARG ? ARG_DOC : OTHER;
                break;
            case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
                if (seen_local && t != TYPE_WORD) bad_def(spec);
                if (seen_return && !seen_local) bad_def(spec);
                add_name(&v);
                prev = ARG;
                break;
            case TYPE_REFINEMENT:
                if (resolved(&v) == local) {
                    seen_local = true;
                } else {
                    if (seen_local || seen_return) bad_def(spec);
                    bool follows = next == 0 || argument_word_q(next) || next == TYPE_REFINEMENT ||
                                   next == TYPE_SET_WORD || next == TYPE_STRING;
                    if (!follows) bad_def(spec);
                    add_name(&v);
                }
                prev = OTHER;
                break;
            case TYPE_SET_WORD:
                if (resolved(&v) != return_ || seen_return || seen_local || next != TYPE_BLOCK) bad_def(spec);
                seen_return = true;
                prev = RETURN;
                break;
            case TYPE_BLOCK: {
                if (prev != ARG && prev != RETURN) bad_def(spec);
                if (prev == RETURN) {
                    if (next != 0 && next != TYPE_REFINEMENT && next != TYPE_STRING) bad_def(spec);
                } else {
                    check_types(&v);
                }
                prev = OTHER;
                break;
            }
            default:
                bad_def(spec);
        }
    }
    return flags;
}

node_id push(const kiv_value* spec_in, const kiv_value* body_in, node_id ctx, int32_t code, int32_t extra,
             uint32_t flags) {
    kiv_value spec = *spec_in;
    kiv_value body = body_in ? *body_in : none_value;
    if (spec.data1 > block::length_all(&spec)) spec.data1 = block::length_all(&spec);
    if (spec.data1 > 0) {
        spec = *block::clone(&spec, false, false);
        stack::pop(1);
    }
    bool has_body = type_of(&body) == TYPE_BLOCK;
    if (has_body && body.data1 > block::length_all(&body)) body.data1 = block::length_all(&body);
    node_id extra_block = memory::alloc_unset_cells(EXTRA_CELLS);
    series::buffer(extra_block)->tail += EXTRA_CELLS * sizeof(kiv_value);
    bool made_here = ctx == 0;
    if (made_here) ctx = _context::make_from_block(&spec, true, false, CTX_FUNCTION);
    kiv_value fn{TYPE_FUNCTION | flags, ctx, spec.data2, extra_block};
    stack::push_value(&fn);
    *_context::self_of(ctx) = fn;
    kiv_value copy = none_value;
    if (has_body) {
        copy = *block::clone(&body, true, false);
        stack::pop(1);
    }
    *extra_cell_of(&fn, EXTRA_BODY) = copy;
    if (code) integer::make_at(extra_cell_of(&fn, EXTRA_CODE), code);
    if (extra) integer::make_at(extra_cell_of(&fn, EXTRA_VALUE), extra);
    if (made_here && has_body) _context::bind(&copy, ctx, false);
    return ctx;
}

namespace {

bool in(const std::vector<int32_t>& list, int32_t s) {
    for (int32_t x : list)
        if (x == s) return true;
    return false;
}

// Words set in the body (and the loop words of foreach, remove-each and
// repeat), once each, skipping those already known.
void collect_from(const kiv_value* blk, std::vector<int32_t>& ignore, std::vector<kiv_value>& locals) {
    kiv_value b = *blk;
    auto add = [&](const kiv_value* w) {
        int32_t s = symbol::resolve(word::symbol_of(w));
        if (in(ignore, s)) return;
        ignore.push_back(s);
        kiv_value word = *w;
        word.header = TYPE_WORD;
        locals.push_back(word);
    };
    int32_t foreach = known(known_name::foreach), remove_each = known(known_name::remove_each),
            repeat = known(known_name::repeat);
    uint32_t length = block::length_all(&b);
    for (uint32_t i = b.data1; i < length; i++) {
        kiv_value v = block::cells(&b)[i];
        uint32_t t = type_of(&v);
        if (t == TYPE_SET_WORD) {
            add(&v);
        } else if (t == TYPE_WORD && i + 1 < length) {
            int32_t s = symbol::resolve(word::symbol_of(&v));
            kiv_value after = block::cells(&b)[i + 1];
            uint32_t ta = type_of(&after);
            if ((s == foreach || s == remove_each) && ta == TYPE_BLOCK) {
                for (uint32_t k = after.data1; k < block::length_all(&after); k++) {
                    kiv_value w = block::cells(&after)[k];
                    if (argument_word_q(type_of(&w))) add(&w);
                }
            } else if ((s == foreach || s == remove_each || s == repeat) && (ta == TYPE_WORD || ta == TYPE_SET_WORD)) {
                add(&after);
            }
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            collect_from(&v, ignore, locals);
        }
    }
}

}  // namespace

void collect_locals(kiv_value* spec, const kiv_value* body) {
    std::vector<kiv_value> locals;
    std::vector<int32_t> ignore;
    int32_t local = known(known_name::local), extern_ = known(known_name::extern_);
    bool has_extern = false;
    uint32_t length = block::length_all(spec);
    for (uint32_t i = spec->data1; i < length; i++) {
        kiv_value v = block::cells(spec)[i];
        if (type_of(&v) != TYPE_REFINEMENT || resolved(&v) != extern_) continue;
        has_extern = true;
        // Words after a /local that follows the /extern words are locals too.
        uint32_t k = i + 1;
        while (k < length && type_of(&block::cells(spec)[k]) == TYPE_WORD) k++;
        if (k < length && type_of(&block::cells(spec)[k]) == TYPE_REFINEMENT && resolved(&block::cells(spec)[k]) == local)
            for (uint32_t j = k + 1; j < length; j++) {
                kiv_value w = block::cells(spec)[j];
                if (type_of(&w) == TYPE_WORD) locals.push_back(w);
            }
        // The /extern words stay known but leave the spec.
        for (uint32_t j = i + 1; j < length; j++) {
            kiv_value w = block::cells(spec)[j];
            if (type_of(&w) == TYPE_WORD) ignore.push_back(symbol::resolve(word::symbol_of(&w)));
        }
        block::ks_set_tail(spec, i);
        break;
    }
    for (uint32_t i = spec->data1; i < block::length_all(spec); i++) {
        kiv_value v = block::cells(spec)[i];
        uint32_t t = type_of(&v);
        if (any_word_q(t) && t != TYPE_ISSUE) ignore.push_back(symbol::resolve(word::symbol_of(&v)));
        else if (t != TYPE_BLOCK && t != TYPE_STRING && has_extern)
            fire(err::SCRIPT, err::script::bad_func_extern, &v);
    }
    for (const kiv_value& l : locals) ignore.push_back(symbol::resolve(word::symbol_of(&l)));
    collect_from(body, ignore, locals);
    std::vector<kiv_value> kept;
    for (const kiv_value& l : locals)
        if (symbol::resolve(word::symbol_of(&l)) != local) kept.push_back(l);
    if (kept.empty()) return;
    bool has_local = false;
    for (uint32_t i = spec->data1; i < block::length_all(spec); i++) {
        kiv_value v = block::cells(spec)[i];
        if (type_of(&v) == TYPE_REFINEMENT && resolved(&v) == local) has_local = true;
    }
    if (!has_local) {
        kiv_value r = actions::refinement_word("local");
        *block::alloc_tail(spec) = r;
    }
    for (const kiv_value& l : kept) *block::alloc_tail(spec) = l;
}

int32_t locate_refinement(const kiv_value* spec, uint32_t start, bool require) {
    int32_t local = known(known_name::local);
    for (uint32_t i = start; i < block::length_all(spec); i++) {
        kiv_value v = block::cells(spec)[i];
        if (type_of(&v) != TYPE_REFINEMENT || resolved(&v) != local) continue;
        int32_t count = 1;
        for (uint32_t k = i + 1; k < block::length_all(spec); k++)
            if (type_of(&block::cells(spec)[k]) == TYPE_WORD) count++;
        return count;
    }
    return require ? -1 : 0;
}

void init_locals(int32_t n) {
    stack::push_value(&false_value);
    for (int32_t i = 1; i < n; i++) stack::push_value(&none_value);
}

namespace {

kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    if (type_of(spec) != TYPE_BLOCK || block::ks_length_q(spec) < 2) bad_def(spec);
    kiv_value s = block::cells(spec)[spec->data1];
    kiv_value body = block::cells(spec)[spec->data1 + 1];
    if (type_of(&s) != TYPE_BLOCK) bad_def(spec);
    uint32_t flags = check_spec(&s);
    if (type_of(&body) != TYPE_BLOCK) bad_def(spec);
    push(&s, &body, 0, 0, 0, flags);
    return stack::top - 1;
}

bool field_is(uint32_t symbol, const char* name) { return symbol::resolve(int32_t(symbol)) == resolved(name); }

void reflect(kiv_value* value, uint32_t field) {
    if (field_is(field, "spec")) {
        kiv_value spec{TYPE_BLOCK, 0, value->data2, 0};
        stack::set_last(&spec);
    } else if (field_is(field, "body")) {
        stack::set_last(extra_cell_of(value, EXTRA_BODY));
    } else if (field_is(field, "words")) {
        node_id ctx = value->data1;
        kiv_value words{TYPE_BLOCK, 0, _context::words_block(ctx), 0};
        kiv_value* copy = block::clone(&words, false, false);
        for (uint32_t i = 0; i < block::length_all(copy); i++) block::cells(copy)[i].data1 = ctx;
        stack::set_last(copy);
    } else {
        fire(err::INTERNAL, err::internal::not_done);
    }
}

template <uint32_t Type>
int32_t form(kiv_value*, kiv_value* buffer, kiv_value*, int32_t part) {
    string::concatenate_literal(buffer, Type == TYPE_FUNCTION ? "?function?" : "?routine?");
    return part - (Type == TYPE_FUNCTION ? 10 : 9);
}

int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool flat, kiv_value* arg, int32_t part,
             int32_t indent) {
    string::concatenate_literal(buffer, "func ");
    kiv_value spec{TYPE_BLOCK, 0, value->data2, 0};
    part = actions::mold_typed(&spec, buffer, false, all, flat, arg, part - 5, indent);
    kiv_value body = *extra_cell_of(value, EXTRA_BODY);
    if (type_of(&body) != TYPE_BLOCK) {
        string::concatenate_literal(buffer, " none");
        return part - 5;
    }
    return actions::mold_typed(&body, buffer, false, all, flat, arg, part, indent);
}

int32_t routine_mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool flat, kiv_value* arg,
                     int32_t part, int32_t indent) {
    string::concatenate_literal(buffer, "routine ");
    kiv_value spec{TYPE_BLOCK, 0, value->data2, 0};
    part = actions::mold_typed(&spec, buffer, false, all, flat, arg, part - 8, indent);
    kiv_value body = *extra_cell_of(value, EXTRA_BODY);
    if (type_of(&body) != TYPE_BLOCK) {
        string::concatenate_literal(buffer, " ");
        part--;
    }
    return actions::mold_typed(&body, buffer, false, all, flat, arg, part, indent);
}

template <uint32_t Type>
int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    if (type_of(value2) != Type || !logic::equality_or_sort_q(op)) return COMPARE_INCOMPARABLE;
    int32_t a = int32_t(value1->data3), b = int32_t(value2->data3);
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

void init() {
    using namespace actions;
    datatype::register_(TYPE_FUNCTION, TYPE_CONTEXT, "function!", {
        impl<SLOT_MAKE>(make),                       // make
        UNSUPPORTED,                                 // random
        impl<SLOT_REFLECT>(reflect),                 // reflect
        UNSUPPORTED,                                 // to
        impl<SLOT_FORM>(form<TYPE_FUNCTION>),        // form
        impl<SLOT_MOLD>(mold),                       // mold
        UNSUPPORTED,                                 // eval-path
        UNSUPPORTED,                                 // (empty)
        impl<SLOT_COMPARE>(compare<TYPE_FUNCTION>),  // compare
        UNSUPPORTED,                                 // absolute
        UNSUPPORTED,                                 // add
        UNSUPPORTED,                                 // divide
        UNSUPPORTED,                                 // multiply
        UNSUPPORTED,                                 // negate
        UNSUPPORTED,                                 // power
        UNSUPPORTED,                                 // remainder
        UNSUPPORTED,                                 // round
        UNSUPPORTED,                                 // subtract
        UNSUPPORTED,                                 // even?
        UNSUPPORTED,                                 // odd?
        UNSUPPORTED,                                 // and~
        UNSUPPORTED,                                 // complement
        UNSUPPORTED,                                 // or~
        UNSUPPORTED,                                 // xor~
        UNSUPPORTED,                                 // append
        UNSUPPORTED,                                 // at
        UNSUPPORTED,                                 // back
        UNSUPPORTED,                                 // change
        UNSUPPORTED,                                 // clear
        UNSUPPORTED,                                 // copy
        UNSUPPORTED,                                 // find
        UNSUPPORTED,                                 // head
        UNSUPPORTED,                                 // head?
        UNSUPPORTED,                                 // index?
        UNSUPPORTED,                                 // insert
        UNSUPPORTED,                                 // length?
        UNSUPPORTED,                                 // move
        UNSUPPORTED,                                 // next
        UNSUPPORTED,                                 // pick
        UNSUPPORTED,                                 // poke
        UNSUPPORTED,                                 // put
        UNSUPPORTED,                                 // remove
        UNSUPPORTED,                                 // reverse
        UNSUPPORTED,                                 // select
        UNSUPPORTED,                                 // sort
        UNSUPPORTED,                                 // skip
        UNSUPPORTED,                                 // swap
        UNSUPPORTED,                                 // tail
        UNSUPPORTED,                                 // tail?
        UNSUPPORTED,                                 // take
        UNSUPPORTED,                                 // trim
        UNSUPPORTED,                                 // create
        UNSUPPORTED,                                 // close
        UNSUPPORTED,                                 // delete
        UNSUPPORTED,                                 // modify
        UNSUPPORTED,                                 // open
        UNSUPPORTED,                                 // open?
        UNSUPPORTED,                                 // query
        UNSUPPORTED,                                 // read
        UNSUPPORTED,                                 // rename
        UNSUPPORTED,                                 // update
        UNSUPPORTED,                                 // write
    });
    datatype::register_(TYPE_ROUTINE, TYPE_FUNCTION, "routine!", {
        UNSUPPORTED,                                // make
        UNSUPPORTED,                                // random
        INHERITED,                                  // reflect
        UNSUPPORTED,                                // to
        impl<SLOT_FORM>(form<TYPE_ROUTINE>),        // form
        impl<SLOT_MOLD>(routine_mold),              // mold
        UNSUPPORTED,                                // eval-path
        UNSUPPORTED,                                // (empty)
        impl<SLOT_COMPARE>(compare<TYPE_ROUTINE>),  // compare
        UNSUPPORTED,                                // absolute
        UNSUPPORTED,                                // add
        UNSUPPORTED,                                // divide
        UNSUPPORTED,                                // multiply
        UNSUPPORTED,                                // negate
        UNSUPPORTED,                                // power
        UNSUPPORTED,                                // remainder
        UNSUPPORTED,                                // round
        UNSUPPORTED,                                // subtract
        UNSUPPORTED,                                // even?
        UNSUPPORTED,                                // odd?
        UNSUPPORTED,                                // and~
        UNSUPPORTED,                                // complement
        UNSUPPORTED,                                // or~
        UNSUPPORTED,                                // xor~
        UNSUPPORTED,                                // append
        UNSUPPORTED,                                // at
        UNSUPPORTED,                                // back
        UNSUPPORTED,                                // change
        UNSUPPORTED,                                // clear
        UNSUPPORTED,                                // copy
        UNSUPPORTED,                                // find
        UNSUPPORTED,                                // head
        UNSUPPORTED,                                // head?
        UNSUPPORTED,                                // index?
        UNSUPPORTED,                                // insert
        UNSUPPORTED,                                // length?
        UNSUPPORTED,                                // move
        UNSUPPORTED,                                // next
        UNSUPPORTED,                                // pick
        UNSUPPORTED,                                // poke
        UNSUPPORTED,                                // put
        UNSUPPORTED,                                // remove
        UNSUPPORTED,                                // reverse
        UNSUPPORTED,                                // select
        UNSUPPORTED,                                // sort
        UNSUPPORTED,                                // skip
        UNSUPPORTED,                                // swap
        UNSUPPORTED,                                // tail
        UNSUPPORTED,                                // tail?
        UNSUPPORTED,                                // take
        UNSUPPORTED,                                // trim
        UNSUPPORTED,                                // create
        UNSUPPORTED,                                // close
        UNSUPPORTED,                                // delete
        UNSUPPORTED,                                // modify
        UNSUPPORTED,                                // open
        UNSUPPORTED,                                // open?
        UNSUPPORTED,                                // query
        UNSUPPORTED,                                // read
        UNSUPPORTED,                                // rename
        UNSUPPORTED,                                // update
        UNSUPPORTED,                                // write
    });
}

}  // namespace function

namespace {
std::vector<routine::entry>& routine_entries() {
    static std::vector<routine::entry> entries;
    return entries;
}
}  // namespace

int32_t routine::register_entry(entry f) {
    routine_entries().push_back(f);
    return int32_t(routine_entries().size());
}

routine::entry routine::entry_at(int32_t index) {
    auto& entries = routine_entries();
    return index >= 1 && size_t(index) <= entries.size() ? entries[size_t(index) - 1] : nullptr;
}

kiv_value* routine::push(const kiv_value* spec, const kiv_value* body, int32_t code, int32_t extra, bool flavour) {
    kiv_value s = *spec;
    uint32_t count = 0;
    for (uint32_t i = s.data1; i < block::length_all(&s); i++)
        if (type_of(&block::cells(&s)[i]) == TYPE_WORD) count++;
    node_id extra_block = memory::alloc_unset_cells(function::EXTRA_CELLS);
    series::buffer(extra_block)->tail += function::EXTRA_CELLS * sizeof(kiv_value);
    node_id ctx = _context::make_from_block(&s, true, false, CTX_FUNCTION);
    uint32_t header = TYPE_ROUTINE | (flavour ? 0x8000 : 0) | ((count > 31 ? 31 : count) << 25);
    kiv_value r{header, ctx, s.data2, extra_block};
    kiv_value* cell = stack::push_value(&r);
    *function::extra_cell_of(&r, function::EXTRA_BODY) = body ? *body : none_value;
    integer::make_at(function::extra_cell_of(&r, function::EXTRA_CODE), code);
    if (extra) integer::make_at(function::extra_cell_of(&r, function::EXTRA_VALUE), extra);
    return cell;
}

}  // namespace kiv
