// block!: constructors, accessors, make, to, form, mold, comparison and path
// evaluation.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/cycles.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/hashtable.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::block {

// Accessors -----------------------------------------------------------------------

bool ks_next(kiv_value* blk) {
    if (blk->data1 < length_all(blk)) blk->data1++;
    return blk->data1 >= length_all(blk);
}

void ks_clear(kiv_value* blk) { ks_set_tail(blk, blk->data1); }

void ks_set_tail(kiv_value* blk, uint32_t index) {
    series_buffer* b = series::buffer(blk->data2);
    b->tail = b->offset + size_t(index) * sizeof(kiv_value);
}

kiv_value* ks_append_block(kiv_value* target, const kiv_value* source) {
    for (uint32_t i = source->data1; i < length_all(source); i++) {
        kiv_value cell = cells(source)[i];
        *alloc_tail(target) = cell;
    }
    return target;
}

// Constructors ------------------------------------------------------------------

kiv_value* make_at(kiv_value* cell, int32_t size) {
    uint32_t flags = cell->header & ~TYPE_MASK;
    cell->header = flags | TYPE_UNSET;  // a collection in between sees no half-made block
    node_id n = memory::alloc_cells(uint32_t(size < 1 ? 1 : size));
    *cell = kiv_value{flags | TYPE_BLOCK, 0, n, 0};
    return cell;
}

kiv_value* init_at(kiv_value* cell, int32_t size, bool fixed) {
    cell->header = TYPE_UNSET;
    uint32_t n = uint32_t(size < 1 ? 1 : size);
    node_id node = fixed ? memory::alloc_fixed_series(n, sizeof(kiv_value), 0) : memory::alloc_unset_cells(n);
    *cell = kiv_value{TYPE_BLOCK, 0, node, 0};
    return cell;
}

kiv_value* make_in(kiv_value* parent, int32_t size) {
    kiv_value* cell = parent ? alloc_tail(parent) : &runtime::root;
    return init_at(cell, size, true);
}

kiv_value* append_value(kiv_value* parent, int32_t size) {
    kiv_value made{TYPE_UNSET, 0, 0, 0};
    make_at(&made, size);
    return copy_cell(&made, alloc_tail(parent ? parent : &runtime::root));
}

kiv_value* push(const kiv_value* value) { return stack::push_value(value); }

kiv_value* push_only(int32_t size) {
    kiv_value* cell = stack::push();
    *cell = unset_value;
    return make_at(cell, size);
}

kiv_value* append_copy(kiv_value* blk, const kiv_value* value) {
    kiv_value v = *value;
    return copy_cell(&v, alloc_tail(blk));
}

kiv_value* insert_value(kiv_value* blk, const kiv_value* value, bool advance, bool at_head) {
    kiv_value v = *value;
    series_buffer* b = series::buffer(blk->data2);
    if (b->tail + sizeof(kiv_value) > end_of(b))
        b = memory::expand_series_copy(b, uint32_t((b->tail - b->offset + sizeof(kiv_value)) * 2));
    uint32_t length = length_all(blk);
    uint32_t at = at_head ? 0 : (blk->data1 < length ? blk->data1 : length);
    kiv_value* c = cells(blk);
    std::memmove(c + at + 1, c + at, (length - at) * sizeof(kiv_value));
    c[at] = v;
    b->tail += sizeof(kiv_value);
    if (type_of(blk) == TYPE_HASH && blk->data3) {
        hashtable::shift_positions(blk->data3, 1, at + 1, length - at);
        hashtable::put(blk->data3, cells(blk) + at);
    }
    if (advance) blk->data1 = at + 1;
    return cells(blk) + at;
}

kiv_value* append_all(kiv_value* target, const kiv_value* source) {
    kiv_value src = *source;
    for (uint32_t i = src.data1; i < length_all(&src); i++) insert_value(target, cells(&src) + i, true, false);
    return target;
}

kiv_value* clone(const kiv_value* blk, bool deep, bool all_kinds) {
    kiv_value source = *blk;
    uint32_t length = length_all(&source);
    uint32_t head = source.data1 < length ? source.data1 : length;
    kiv_value* result = stack::push();
    *result = unset_value;
    make_at(result, int32_t(length - head));
    result->header = type_of(&source);
    for (uint32_t i = head; i < length; i++) {
        kiv_value cell = cells(&source)[i];
        uint32_t t = type_of(&cell);
        bool nested = t == TYPE_BLOCK || (all_kinds && (t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH)));
        if (deep && nested) {
            kiv_value copy = *clone(&cell, true, all_kinds);
            stack::pop(1);
            copy.header = cell.header;
            cell = copy;
        }
        kiv_value* r = stack::top - 1;  // the result stays the last value
        *alloc_tail(r) = cell;
    }
    return stack::top - 1;
}

kiv_value* find_word(kiv_value* blk, const kiv_value* word, bool exact) {
    int32_t symbol = word::symbol_of(word);
    int32_t key = exact ? symbol : symbol::resolve(symbol);
    uint32_t length = length_all(blk);
    for (uint32_t i = blk->data1; i < length; i++) {
        kiv_value* c = cells(blk) + i;
        uint32_t t = type_of(c);
        if (t < TYPE_WORD || t > TYPE_GET_WORD) continue;
        int32_t s = word::symbol_of(c);
        if ((exact ? s : symbol::resolve(s)) != key) continue;
        return i + 1 < length ? c + 1 : const_cast<kiv_value*>(&none_value);
    }
    return const_cast<kiv_value*>(&none_value);
}

static int64_t find_index(kiv_value* blk, const kiv_value* value, uint32_t from) {
    kiv_value v = *value;
    for (uint32_t i = from; i < length_all(blk); i++) {
        kiv_value c = cells(blk)[i];
        if (actions::get<SLOT_COMPARE>(&v)(&v, &c, COMP_FIND) == 0) return i;
    }
    return -1;
}

kiv_value* find_compare(kiv_value* blk, const kiv_value* value) {
    int64_t i = find_index(blk, value, blk->data1);
    if (i < 0 || uint32_t(i) + 1 >= length_all(blk)) return const_cast<kiv_value*>(&none_value);
    return cells(blk) + i + 1;
}

bool find_compare_from(kiv_value* blk, const kiv_value* value, bool from_head) {
    int64_t i = find_index(blk, value, from_head ? 0 : blk->data1);
    if (i < 0) return false;
    kiv_value* c = cells(blk);
    uint32_t length = length_all(blk);
    std::memmove(c + i, c + i + 1, (length - uint32_t(i) - 1) * sizeof(kiv_value));
    ks_set_tail(blk, length - 1);
    return true;
}

// Actions -------------------------------------------------------------------------

[[noreturn]] static void not_yet() { fire(err::INTERNAL, err::internal::not_done); }

// A shallow copy of a block-like spec from its cursor, typed as asked.
static kiv_value* cloned_as(const kiv_value* spec, uint32_t type) {
    kiv_value* r = clone(spec, false, false);
    r->header = type;
    return r;
}

// An object as a block is its body: set-words and values.
static kiv_value* object_body(const kiv_value* obj, uint32_t type) {
    kiv_value o = *obj;
    kiv_value* r = stack::push();
    *r = unset_value;
    object::body_into(&o, r);
    r->header = type;
    return r;
}

static kiv_value* make(kiv_value*, kiv_value* spec, uint32_t type) {
    switch (type_of(spec)) {
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            int32_t size;
            if (type_of(spec) == TYPE_FLOAT) {
                if (float_::integer_range_q(spec)) fire(err::SCRIPT, err::script::out_of_range, spec);
                size = int32_t(float_::get(spec));
            } else {
                size = integer::get_value(spec);
            }
            kiv_value* r = push_only(size);
            r->header = type;
            return r;
        }
        case TYPE_OBJECT:
            return object_body(spec, type);
        case TYPE_VECTOR: {
            kiv_value* r = vector::to_block(spec);
            r->header = type;
            return r;
        }
        case TYPE_MAP: {
            kiv_value* r = map::body_of(spec, stack::push());
            r->header = type;
            return r;
        }
        default:
            if (series::block_like_q(type_of(spec))) return cloned_as(spec, type);
            kiv_value dt;
            datatype::make_at(&dt, type);
            fire(err::SCRIPT, err::script::bad_make_arg, &dt, spec);
    }
}

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t type) {
    uint32_t t = type_of(spec);
    if (series::block_like_q(t)) return cloned_as(spec, type);
    if (t == TYPE_STRING) {
        kiv_value* r = stack::push();
        *r = unset_value;
        kiv_value text = *spec;
        lexer::scan_string(r, &text, -1, false, false, false, nullptr, nullptr, nullptr);
        r->header = type;
        return r;
    }
    if (t == TYPE_TYPESET) {
        kiv_value* r = typeset::to_block(spec, stack::push());
        r->header = type;
        return r;
    }
    if (t == TYPE_OBJECT) return object_body(spec, type);
    if (t == TYPE_VECTOR) {
        kiv_value* r = vector::to_block(spec);
        r->header = type;
        return r;
    }
    if (t == TYPE_MAP) {
        kiv_value* r = map::body_of(spec, stack::push());
        r->header = type;
        return r;
    }
    kiv_value v = *spec;
    kiv_value* r = push_only(1);
    *alloc_tail(r) = v;
    r->header = type;
    return r;
}

static bool breaks_line(uint32_t c) { return c == '\n' || c == '\r' || c == '\t'; }

int32_t form(kiv_value* blk, kiv_value* buffer, kiv_value* arg, int32_t part) {
    if (cycles::detect_q(blk, buffer, &part, false)) return part;
    kiv_value b = *blk;
    cycles::push(b.data2);
    uint32_t length = length_all(&b);
    for (uint32_t i = b.data1; i < length; i++) {
        if (arg && part <= 0) break;
        kiv_value cell = cells(&b)[i];
        part = actions::form_typed(&cell, buffer, arg, part);
        if (i + 1 < length_all(&b)) {
            series_buffer* out = series::buffer(buffer->data2);
            uint32_t u = unit_of(out);
            bool ends_line = out->tail > out->offset && breaks_line(string::get_char(out->tail - u, u));
            if (!ends_line) {
                string::concatenate_literal(buffer, " ");
                part--;
            }
        }
        length = length_all(&b);
    }
    cycles::pop();
    return part;
}

static int32_t newline_indent(kiv_value* buffer, int32_t indent, int32_t part, bool line_feed) {
    if (line_feed) {
        string::concatenate_literal(buffer, "\n");
        part--;
    }
    for (int32_t i = 0; i < indent; i++) string::concatenate_literal(buffer, "    ");
    return part - 4 * indent;
}

int32_t mold_content(kiv_value* blk, kiv_value* buffer, bool only, bool all, bool flat,
                     kiv_value* arg, int32_t part, int32_t indent) {
    kiv_value b = *blk;
    cycles::push(b.data2);
    bool opened = false;
    for (uint32_t i = b.data1; i < length_all(&b); i++) {
        if (arg && part <= 0) break;
        kiv_value cell = cells(&b)[i];
        bool first = i == b.data1;
        if (!flat && (cell.header & FLAG_NEW_LINE)) {
            if (!only && first) {
                opened = true;
                indent++;
            }
            part = newline_indent(buffer, indent, part, !(first && only));
        } else if (!first) {
            string::concatenate_literal(buffer, " ");
            part--;
        }
        part = actions::mold_typed(&cell, buffer, false, all, flat, arg, part, indent);
    }
    cycles::pop();
    if (opened) part = newline_indent(buffer, indent - 1, part, true);
    return part;
}

static int32_t mold(kiv_value* blk, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg,
                    int32_t part, int32_t indent) {
    if (cycles::detect_q(blk, buffer, &part, true)) return part;
    if (!only) {
        string::concatenate_literal(buffer, "[");
        part--;
    }
    part = mold_content(blk, buffer, only, all, flat, arg, part, indent);
    if (!only) {
        string::concatenate_literal(buffer, "]");
        part--;
    }
    return part;
}

static bool equality_q(int32_t op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL ||
           op == COMP_EQUAL_SPELLING || op == COMP_EQUAL_FOLDED || op == COMP_FIND;
}

static bool comparable_q(uint32_t a, uint32_t b) {
    auto number = [](uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
    return a == b || (any_word_q(a) && any_word_q(b)) || (number(a) && number(b));
}

int32_t compare(kiv_value* blk1, kiv_value* blk2, int32_t op) {
    uint32_t t1 = type_of(blk1), t2 = type_of(blk2);
    bool paths = (op == COMP_EQUAL_SPELLING || op == COMP_EQUAL_FOLDED) &&
                 (t1 == TYPE_PATH || t1 == TYPE_LIT_PATH) && (t2 == TYPE_PATH || t2 == TYPE_LIT_PATH);
    if (t1 != t2 && !paths) return COMPARE_INCOMPARABLE;
    if (blk1->data2 == blk2->data2 && blk1->data1 == blk2->data1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(blk1->data2)) return cycles::find_q(blk2->data2) ? 0 : -1;
    kiv_value a = *blk1, b = *blk2;
    int32_t len1 = std::max(0, ks_length_q(&a)), len2 = std::max(0, ks_length_q(&b));
    if (equality_q(op) && len1 != len2) return 1;
    cycles::push(a.data2);
    cycles::push(b.data2);
    int32_t result = 0;
    for (int32_t i = 0; i < std::min(len1, len2) && result == 0; i++) {
        kiv_value x = cells(&a)[a.data1 + uint32_t(i)], y = cells(&b)[b.data1 + uint32_t(i)];
        uint32_t tx = type_of(&x), ty = type_of(&y);
        if (!comparable_q(tx, ty)) {
            result = tx < ty ? -1 : 1;
            break;
        }
        result = actions::compare_values(&x, &y, op);
    }
    if (result == 0) result = len1 == len2 ? 0 : len1 < len2 ? -1 : 1;
    cycles::drop(2);
    return result;
}

static kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                            kiv_value*, kiv_value*, int32_t, bool case_, bool, bool, bool) {
    if (type_of(element) == TYPE_INTEGER) {
        int32_t n = integer::get_value(element);
        if (!value) return actions::get<SLOT_PICK>(parent)(parent, n, element);
        actions::get<SLOT_POKE>(parent)(parent, n, value, element);
        return value;
    }
    if (!value) {
        if (type_of(element) == TYPE_WORD && type_of(parent) != TYPE_HASH) return find_word(parent, element, case_);
        return actions::get<SLOT_SELECT>(parent)(parent, element, nullptr, true, case_, false, false,
                                                 nullptr, nullptr, false, false);
    }
    kiv_value found = *actions::get<SLOT_FIND>(parent)(parent, element, nullptr, false, case_, false, false,
                                                        nullptr, nullptr, false, false, false, false);
    if (type_of(&found) == TYPE_NONE) {
        kiv_value p = path ? *path : none_value;
        fire(err::SCRIPT, err::script::bad_path_set, &p, element);
    }
    if (found.data1 + 1 < length_all(&found)) {
        cells(&found)[found.data1 + 1] = *value;
        if (type_of(parent) == TYPE_HASH && parent->data3) hashtable::resize(parent->data3, length_all(parent));
    }
    return value;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_BLOCK, TYPE_SERIES, "block!", {
        impl<SLOT_MAKE>(make),            // make
        INHERITED,                        // random
        INHERITED,                        // reflect
        impl<SLOT_TO>(to),                // to
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
        impl<SLOT_APPEND>(insert),        // append
        INHERITED,                        // at
        INHERITED,                        // back
        impl<SLOT_CHANGE>(change),        // change
        INHERITED,                        // clear
        impl<SLOT_COPY>(copy),            // copy
        impl<SLOT_FIND>(find),            // find
        INHERITED,                        // head
        INHERITED,                        // head?
        INHERITED,                        // index?
        impl<SLOT_INSERT>(insert),        // insert
        INHERITED,                        // length?
        INHERITED,                        // move
        INHERITED,                        // next
        INHERITED,                        // pick
        INHERITED,                        // poke
        impl<SLOT_PUT>(put),              // put
        INHERITED,                        // remove
        INHERITED,                        // reverse
        impl<SLOT_SELECT>(select),        // select
        impl<SLOT_SORT>(sort),            // sort
        INHERITED,                        // skip
        impl<SLOT_SWAP>(swap),            // swap
        INHERITED,                        // tail
        INHERITED,                        // tail?
        impl<SLOT_TAKE>(take),            // take
        impl<SLOT_TRIM>(trim),            // trim
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

}  // namespace kiv::block
