// error!: making errors from catalog codes, spec blocks and messages;
// forming them into the text the console prints; molding, path access and
// comparison.
#include "runtime/datatypes/error.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "runtime/cycles.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/stack.h"

namespace kiv::error {

namespace {

constexpr const char* FIELD_NAMES[FIELD_COUNT] = {
    "code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files",
};

// Text limits of a formed error.
constexpr int32_t ARG_LIMIT = 80;   // each argument of a message
constexpr int32_t NEAR_LIMIT = 40;  // the Near and Files lines

}  // namespace

int32_t field_symbol(uint32_t f) {
    static const std::array<int32_t, FIELD_COUNT> symbols = [] {
        std::array<int32_t, FIELD_COUNT> s{};
        for (uint32_t i = 0; i < FIELD_COUNT; i++) s[i] = symbol::make(FIELD_NAMES[i]);
        return s;
    }();
    return symbols[f];
}

kiv_value* field(const kiv_value* e, uint32_t f) { return context::heap_value_ref(e->data1, f); }

namespace {

// The field a word names, -1 for none.
int32_t field_named(const kiv_value* word) {
    int32_t s = symbol::resolve(word::symbol_of(word));
    for (uint32_t f = 0; f < FIELD_COUNT; f++)
        if (symbol::resolve(field_symbol(f)) == s) return int32_t(f);
    return -1;
}

// Entry k of a catalog context, as a plain word bound there.
kiv_value entry_word(node_id ctx, uint32_t k) {
    kiv_value w = *context::value_ref(ctx, k);
    w.header = TYPE_WORD;
    return w;
}

// A new error on the argument stack, every field none.
kiv_value* push_new() {
    kiv_value* e = stack::push();
    *e = unset_value;
    node_id ctx = _context::create(FIELD_COUNT, false, true, 0, CTX_OBJECT);
    for (uint32_t f = 0; f < FIELD_COUNT; f++) {
        kiv_value w{TYPE_WORD, 0, uint32_t(field_symbol(f)), uint32_t(-1)};
        _context::add_with_value(ctx, &w, &none_value);
    }
    *e = kiv_value{TYPE_ERROR, ctx, CLASS_ID, 0};
    *_context::self_of(ctx) = *e;
    return e;
}

// `near`: the expression being evaluated, as its block positioned there.
void set_near(const kiv_value* e) {
    kiv_value position = interpreter::code_position;
    *field(e, FIELD_NEAR) = type_of(&position) == TYPE_BLOCK ? position : none_value;
}

void set_code(const kiv_value* e, uint32_t category_position, uint32_t id_position) {
    integer::make_at(field(e, FIELD_CODE), int32_t(category_position * 100 + id_position - FIRST_ID));
}

[[noreturn]] void bad_spec_field(uint32_t f) {
    kiv_value w;
    word::make_at(field_symbol(f), &w);
    fire(err::SCRIPT, err::script::invalid_spec_field, &w);
}

kiv_value* from_code(int32_t code) {
    if (!catalog_ready_q()) {
        // Only the boot data builder runs before the catalog exists.
        std::fprintf(stderr, "*** Error %d raised before the error catalog exists\n", code);
        std::exit(1);
    }
    kiv_value c;
    integer::make_at(&c, code);
    if (code < 0 || code / 100 >= int32_t(err::CATEGORY_COUNT)) fire(err::SCRIPT, err::script::out_of_range, &c);
    uint32_t k = uint32_t(code / 100);
    uint32_t position = uint32_t(code % 100) + FIRST_ID;
    if (position >= _context::words_count(category(k))) fire(err::SCRIPT, err::script::out_of_range, &c);
    kiv_value* e = push_new();
    *field(e, FIELD_CODE) = c;
    *field(e, FIELD_TYPE) = entry_word(catalog(), k);
    *field(e, FIELD_ID) = entry_word(category(k), position);
    set_near(e);
    return e;
}

// [category id]: both words are kept as given.
kiv_value* from_words(const kiv_value* spec) {
    kiv_value b = *spec;
    kiv_value type = block::cells(&b)[b.data1];
    int32_t k = find_category(&type);
    if (k < 0) bad_spec_field(FIELD_TYPE);
    if (block::ks_length_q(&b) < 2) bad_spec_field(FIELD_ID);
    kiv_value id = block::cells(&b)[b.data1 + 1];
    if (type_of(&id) != TYPE_WORD) fire(err::SCRIPT, err::script::invalid_arg, &id);
    int32_t position = find_id(category(uint32_t(k)), &id);
    if (position < 0) bad_spec_field(FIELD_ID);
    kiv_value* e = push_new();
    *field(e, FIELD_TYPE) = type;
    *field(e, FIELD_ID) = id;
    set_code(e, uint32_t(k), uint32_t(position));
    set_near(e);
    return e;
}

// [type: ... id: ...]: the block sets the fields of the new error.
kiv_value* from_fields(const kiv_value* spec) {
    kiv_value* e = push_new();
    kiv_value body = *spec;
    _context::bind(&body, e->data1, true);
    kiv_value* saved = stack::top;
    interpreter::eval(&body, false);
    // An exit leaving the block leaves the stacks to the frame that takes it.
    if (interpreter::exit_pending_q()) return stack::arguments;
    stack::top = saved;
    kiv_value type = *field(e, FIELD_TYPE), id = *field(e, FIELD_ID);
    int32_t k = type_of(&type) == TYPE_WORD ? find_category(&type) : -1;
    if (k < 0) bad_spec_field(FIELD_TYPE);
    int32_t position = type_of(&id) == TYPE_WORD ? find_id(category(uint32_t(k)), &id) : -1;
    if (position < 0) bad_spec_field(FIELD_ID);
    set_code(e, uint32_t(k), uint32_t(position));
    set_near(e);
    return e;
}

kiv_value* from_block(const kiv_value* spec) {
    kiv_value b = *spec;
    uint32_t first = block::ks_length_q(&b) > 0 ? type_of(block::cells(&b) + b.data1) : TYPE_UNSET;
    if (first == TYPE_WORD) return from_words(&b);
    if (first == TYPE_SET_WORD) return from_fields(&b);
    fire(err::INTERNAL, err::internal::invalid_error);
}

kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    switch (type_of(spec)) {
        case TYPE_INTEGER: return from_code(integer::get_value(spec));
        case TYPE_BLOCK: return from_block(spec);
        case TYPE_STRING: return create(err::USER, err::user::message, spec, nullptr, nullptr);
        default: {
            kiv_value dt;
            datatype::make_at(&dt, TYPE_ERROR);
            fire(err::SCRIPT, err::script::bad_make_arg, &dt, spec);
        }
    }
}

// Forming -------------------------------------------------------------------------------

uint32_t units(const kiv_value* buffer) { return series::used_units(series::buffer(buffer->data2)); }

void append_text(kiv_value* buffer, const kiv_value* text) {
    kiv_value s = *text;
    string::concatenate(buffer, &s, -1, 0, true, string::APPEND);
}

// Forms, or molds flat, a value into the buffer, cut at `limit` characters.
void append_limited(kiv_value* buffer, const kiv_value* value, bool mold, bool only, int32_t limit) {
    kiv_value v = *value;
    kiv_value part;
    integer::make_at(&part, limit);
    uint32_t start = units(buffer);
    if (mold) actions::mold_typed(&v, buffer, only, false, true, &part, limit, 0);
    else actions::form_typed(&v, buffer, &part, limit);
    string::truncate_to(series::buffer(buffer->data2), start + uint32_t(limit));
}

using fields = std::array<kiv_value, FIELD_COUNT>;

// The fallback for a category or id that the catalog lacks: the message
// becomes internal `invalid-error` naming the value that was not found.
void set_invalid(fields& f, const kiv_value& culprit) {
    f[FIELD_ARG1] = culprit;
    f[FIELD_TYPE] = entry_word(catalog(), err::INTERNAL);
    f[FIELD_ID] = entry_word(category(err::INTERNAL), FIRST_ID + err::internal::invalid_error);
}

// The words of a block template name fields, whose values are formed for
// syntax errors (so that source text shows without quotes) and molded
// otherwise; strings stand as they are.
void reduce_message(const fields& f, const kiv_value* message, bool syntax, kiv_value* buffer) {
    kiv_value m = *message;
    bool first = true;
    for (uint32_t i = m.data1; i < block::length_all(&m); i++) {
        kiv_value element = block::cells(&m)[i];
        uint32_t t = type_of(&element);
        int32_t named = t == TYPE_WORD || t == TYPE_GET_WORD ? field_named(&element) : -1;
        if (t != TYPE_STRING && named < 0) continue;
        if (!first) string::concatenate_literal(buffer, " ");
        first = false;
        if (t == TYPE_STRING) append_text(buffer, &element);
        else append_limited(buffer, &f[uint32_t(named)], !syntax, false, ARG_LIMIT);
    }
}

int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    kiv_value e = *value;
    if (cycles::find_q(e.data1)) {
        string::concatenate_literal(buffer, "...");
        return part - 3;
    }
    uint32_t start = units(buffer);
    // A copy of the fields: the fallbacks below must leave the error as it is.
    fields f;
    for (uint32_t i = 0; i < FIELD_COUNT; i++) f[i] = *field(&e, i);
    cycles::push(e.data1);
    string::concatenate_literal(buffer, "*** ");
    int32_t k = type_of(&f[FIELD_TYPE]) == TYPE_WORD ? find_category(&f[FIELD_TYPE]) : -1;
    if (k < 0) {
        set_invalid(f, f[FIELD_TYPE]);
        k = err::INTERNAL;
    }
    int32_t position = type_of(&f[FIELD_ID]) == TYPE_WORD ? find_id(category(uint32_t(k)), &f[FIELD_ID]) : -1;
    if (position < 0) {
        set_invalid(f, f[FIELD_ID]);
        k = err::INTERNAL;
        position = int32_t(FIRST_ID + err::internal::invalid_error);
    }
    node_id cat = category(uint32_t(k));
    kiv_value message = *context::heap_value_ref(cat, uint32_t(position));
    if (type_of(&message) == TYPE_WORD) {
        int32_t named = field_named(&message);
        message = named < 0 ? none_value : f[uint32_t(named)];
    }
    kiv_value title = *context::heap_value_ref(cat, CATEGORY_TITLE);
    if (type_of(&title) == TYPE_STRING) append_text(buffer, &title);
    string::concatenate_literal(buffer, ": ");
    if (type_of(&message) == TYPE_STRING) append_text(buffer, &message);
    else if (type_of(&message) == TYPE_BLOCK) reduce_message(f, &message, k == err::SYNTAX, buffer);

    string::concatenate_literal(buffer, "\n*** Where: ");
    kiv_value where = f[FIELD_WHERE];
    if (type_of(&where) == TYPE_WORD) actions::form_typed(&where, buffer, nullptr, INT_MAX);
    else if (type_of(&where) == TYPE_STRING) append_text(buffer, &where);
    else string::concatenate_literal(buffer, "???");

    string::concatenate_literal(buffer, "\n*** Near : ");
    append_limited(buffer, &f[FIELD_NEAR], true, true, NEAR_LIMIT);
    // The Stack line waits for system/state/stack-trace.
    if (type_of(&f[FIELD_FILES]) == TYPE_BLOCK) {
        string::concatenate_literal(buffer, "\n*** Files: ");
        append_limited(buffer, &f[FIELD_FILES], true, true, NEAR_LIMIT);
    }
    cycles::pop();
    return part - int32_t(units(buffer) - start);
}

// Molding -------------------------------------------------------------------------------

int32_t indent_to(kiv_value* buffer, int32_t level, int32_t part) {
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(buffer, "    ");
    return part - 4 * level;
}

// The fields as `word: value` pairs: one per line at `level` unless flat or
// only; a line feed before the first one when indenting.
int32_t mold_fields(node_id ctx, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg,
                    int32_t part, int32_t level) {
    bool indenting = !flat && !only;
    const char* separator = flat ? " " : "\n";
    if (indenting) {
        string::concatenate_literal(buffer, "\n");
        part--;
    }
    cycles::push(ctx);
    uint32_t n = _context::words_count(ctx);
    for (uint32_t i = 0; i < n && part >= 1; i++) {
        if (indenting) part = indent_to(buffer, level, part);
        kiv_value name = *context::value_ref(ctx, i);
        name.header = TYPE_WORD;
        part = actions::form_typed(&name, buffer, arg, part);
        string::concatenate_literal(buffer, ": ");
        part -= 2;
        kiv_value v = *context::heap_value_ref(ctx, i);
        if (type_of(&v) == TYPE_WORD) {
            string::concatenate_literal(buffer, "'");
            part--;
        }
        part = actions::mold_typed(&v, buffer, false, all, flat, arg, part, level);
        if (indenting || i + 1 < n) {
            string::concatenate_literal(buffer, separator);
            part--;
        }
    }
    cycles::pop();
    return part;
}

int32_t mold(kiv_value* value, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg, int32_t part,
             int32_t indent) {
    kiv_value e = *value;
    if (cycles::find_q(e.data1)) {
        string::concatenate_literal(buffer, "...");
        return part - 3;
    }
    if (!only) {
        string::concatenate_literal(buffer, "make error! [");
        part -= 13;
    }
    part = mold_fields(e.data1, buffer, only, all, flat, arg, part, indent + 1);
    if (!only) {
        part = indent_to(buffer, indent, part);
        string::concatenate_literal(buffer, "]");
        part--;
    }
    return part;
}

// Path access and comparison ------------------------------------------------------------

// A missing field, or one whose value is unset: none when the caller asks
// for it (get and tail), else an error naming the path and the element.
kiv_value* missing(kiv_value* path, kiv_value* element, bool get, bool tail) {
    if (get && tail) return const_cast<kiv_value*>(&none_value);
    kiv_value p = path ? *path : none_value;
    fire(err::SCRIPT, tail ? err::script::invalid_path : err::script::unset_path, &p, element);
}

kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path, kiv_value*,
                     kiv_value*, int32_t, bool, bool get, bool tail, bool) {
    uint32_t t = type_of(element);
    bool word = t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
    kiv_value p = path ? *path : none_value;
    // The raw frame reference of `stack` never leaves the runtime.
    if (word && symbol::resolve(word::symbol_of(element)) == symbol::resolve(field_symbol(FIELD_STACK)))
        fire(err::SCRIPT, err::script::invalid_path_set, &p);
    if (!word) fire(err::SCRIPT, err::script::invalid_path, &p, element);
    node_id ctx = parent->data1;
    int32_t index = element->data1 == ctx ? word::index_of(element) : -1;
    if (index < 0) {
        index = _context::find_word(ctx, word::symbol_of(element), true);
        if (index < 0) return missing(path, element, get, tail);
        element->data1 = ctx;
        element->data3 = uint32_t(index);
    }
    if (value) {
        _context::set_in(element, value, ctx, false);
        return value;
    }
    kiv_value* v = context::heap_value_ref(ctx, uint32_t(index));
    return type_of(v) == TYPE_UNSET ? missing(path, element, get, tail) : v;
}

bool number_q(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }

// Field by field, as objects compare: the words by symbol, then the values.
int32_t compare_fields(node_id a, node_id b, int32_t op) {
    if (a == b) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(a)) return cycles::find_q(b) ? 0 : -1;
    uint32_t na = _context::words_count(a), nb = _context::words_count(b);
    if (na != nb) return na < nb ? -1 : 1;
    cycles::push(a);
    cycles::push(b);
    int32_t result = 0;
    for (uint32_t i = 0; i < na && result == 0; i++) {
        int32_t sa = symbol::resolve(word::symbol_of(context::value_ref(a, i)));
        int32_t sb = symbol::resolve(word::symbol_of(context::value_ref(b, i)));
        if (sa != sb) {
            result = sa < sb ? -1 : 1;
            break;
        }
        kiv_value x = *context::heap_value_ref(a, i), y = *context::heap_value_ref(b, i);
        uint32_t tx = type_of(&x), ty = type_of(&y);
        if (tx == ty || (any_word_q(tx) && any_word_q(ty)) || (number_q(tx) && number_q(ty)))
            result = actions::compare_values(&x, &y, op);
        else
            result = tx < ty ? -1 : 1;
    }
    cycles::drop(2);
    return result;
}

int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    if (type_of(value2) != TYPE_ERROR) return COMPARE_INCOMPARABLE;
    return compare_fields(value1->data1, value2->data1, op);
}

}  // namespace

// The raising side's view of an error --------------------------------------------------

kiv_value* create(err::category category, uint32_t id, const kiv_value* arg1, const kiv_value* arg2,
                  const kiv_value* arg3) {
    const kiv_value* given[3] = {arg1, arg2, arg3};
    kiv_value args[3];
    for (int i = 0; i < 3; i++)
        if (given[i]) args[i] = *given[i];
    kiv_value* e = from_code(int32_t(category * 100 + id));
    for (uint32_t i = 0; i < 3; i++)
        if (given[i]) *field(e, FIELD_ARG1 + i) = args[i];
    return e;
}

err::category category_of(const kiv_value* e) {
    kiv_value type = *field(e, FIELD_TYPE);
    int32_t k = type_of(&type) == TYPE_WORD ? find_category(&type) : -1;
    return k < 0 ? err::CATEGORY_COUNT : err::category(k);
}

uint32_t id_of(const kiv_value* e) {
    err::category k = category_of(e);
    kiv_value id = *field(e, FIELD_ID);
    int32_t position = k < err::CATEGORY_COUNT && type_of(&id) == TYPE_WORD ? find_id(category(k), &id) : -1;
    return position < 0 ? UINT32_MAX : uint32_t(position) - FIRST_ID;
}

int32_t get_type(const kiv_value* e) {
    kiv_value* type = field(e, FIELD_TYPE);
    return any_word_q(type_of(type)) ? word::symbol_of(type) : 0;
}

int32_t get_id(const kiv_value* e) {
    kiv_value* id = field(e, FIELD_ID);
    return any_word_q(type_of(id)) ? word::symbol_of(id) : 0;
}

void set_where(const kiv_value* e, const kiv_value* word) {
    kiv_value w = *word;
    kiv_value* where = field(e, FIELD_WHERE);
    if (type_of(where) == TYPE_NONE) *where = w;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_ERROR, TYPE_OBJECT, "error!", {
        impl<SLOT_MAKE>(make),            // make
        UNSUPPORTED,                      // random
        INHERITED,                        // reflect
        UNSUPPORTED,                      // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
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
        INHERITED,                        // copy
        INHERITED,                        // find
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
        INHERITED,                        // select
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

}  // namespace kiv::error
