// Natives that make functions, read and write words, bind, build blocks and
// apply functions.
#include <algorithm>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"

namespace kiv::natives {

namespace {

bool word_kind_q(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }
bool path_kind_q(uint32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }
bool list_kind_q(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN; }
bool callable_q(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

bool object_kind_q(uint32_t t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }

// The context a word, function or object stands for.
node_id context_of(const kiv_value* v) {
    uint32_t t = type_of(v);
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE || object_kind_q(t) || (any_word_q(t) && v->data1)) return v->data1;
    fire_invalid(v);
}

// A new block of an object's values, in field order.
kiv_value values_block(const kiv_value* obj) {
    uint32_t n = object::words_count(obj);
    kiv_value blk;
    block::make_at(&blk, int32_t(n));
    stack::push_value(&blk);
    for (uint32_t i = 0; i < n; i++) block::append_copy(&blk, object::get_values(obj) + i);
    stack::pop(1);
    return blk;
}

}  // namespace

// Function builders -------------------------------------------------------------

namespace {

void make_function(const kiv_value* spec_in, const kiv_value* body_in) {
    kiv_value spec = *spec_in;
    kiv_value body = *body_in;
    uint32_t flags = kiv::function::check_spec(&spec);
    kiv::function::push(&spec, &body, 0, 0, 0, flags);
    kiv_value fn = *(stack::top - 1);
    stack::set_last(&fn);
}

}  // namespace

void func(bool, const int32_t*) { make_function(arg(0), arg(1)); }

void function(bool, const int32_t* refs) {
    kiv_value body = *arg(1);
    kiv_value spec = *block::clone(arg(0), true, false);
    if (used(refs[0])) {
        // collect_locals leaves out the words after an /extern of the spec.
        kiv_value externs = *arg(refs[0]);
        *block::alloc_tail(&spec) = actions::refinement_word("extern");
        for (uint32_t i = externs.data1; i < block::length_all(&externs); i++) {
            kiv_value w = block::cells(&externs)[i];
            if (!word_kind_q(type_of(&w))) fire_invalid(&w);
            w.header = TYPE_WORD;
            *block::alloc_tail(&spec) = w;
        }
    }
    kiv::function::collect_locals(&spec, &body);
    make_function(&spec, &body);
}

void does(bool, const int32_t*) {
    kiv_value spec;
    block::make_at(&spec, 1);
    make_function(&spec, arg(0));
}

void has(bool, const int32_t*) {
    kiv_value spec = *block::clone(arg(0), false, false);
    kiv_value local = actions::refinement_word("local");
    block::insert_value(&spec, &local, false, true);
    make_function(&spec, arg(1));
}

// Words and values --------------------------------------------------------------

void get(bool, const int32_t* refs) {
    kiv_value target = *arg(0);
    uint32_t t = type_of(&target);
    if (path_kind_q(t)) {
        interpreter::eval_path(&target, nullptr, nullptr, nullptr, false, true, false);
        return;
    }
    if (object_kind_q(t)) {
        kiv_value values = values_block(&target);
        stack::set_last(&values);
        return;
    }
    if (!any_word_q(t)) fire_invalid(&target);
    kiv_value value = *_context::get(&target);
    if (type_of(&value) == TYPE_UNSET && !used(refs[0])) fire(err::SCRIPT, err::script::no_value, &target);
    stack::set_last(&value);
}

namespace {

// Sets a block of words from a block's elements in order (none past its
// tail), or every word to the one value. Every word and value is checked
// before any word changes.
void set_many(const kiv_value* words, const kiv_value* value, bool any_value, bool only, bool some) {
    uint32_t vt = type_of(value);
    if (!only && vt == TYPE_MAP) {
        // A map gives its live entries in order, key then value.
        kiv_value m = *value, flat;
        block::make_at(&flat, int32_t(std::max(2u, 2 * map::count(&m))));
        for (uint32_t i = 0; i + 1 < map::entry_cells(&m); i += 2) {
            if (map::removed_q(map::entries(&m) + i + 1)) continue;
            *block::alloc_tail(&flat) = map::shown_key(map::entries(&m) + i);
            *block::alloc_tail(&flat) = map::entries(&m)[i + 1];
        }
        set_many(words, &flat, any_value, false, some);
        return;
    }
    bool spread = !only && (list_kind_q(vt) || vt == TYPE_HASH);
    bool fields = !only && object_kind_q(vt);
    auto value_for = [&](uint32_t k) {
        if (fields) {
            // Each word takes the field of its own name, none without one.
            kiv_value* w = block::cells(words) + words->data1 + k;
            int32_t i = _context::find_word(value->data1, word::symbol_of(w), true);
            return i < 0 ? none_value : object::get_values(value)[i];
        }
        if (!spread) return *value;
        uint32_t at = value->data1 + k;
        return at < block::length_all(value) ? block::cells(value)[at] : none_value;
    };
    uint32_t count = uint32_t(std::max(0, block::ks_length_q(words)));
    for (uint32_t k = 0; k < count; k++) {
        kiv_value w = block::cells(words)[words->data1 + k];
        if (!word_kind_q(type_of(&w))) fire_invalid(&w);
        kiv_value v = value_for(k);
        if (type_of(&v) == TYPE_UNSET && !any_value) fire(err::SCRIPT, err::script::need_value, &w);
    }
    for (uint32_t k = 0; k < count; k++) {
        kiv_value w = block::cells(words)[words->data1 + k];
        kiv_value v = value_for(k);
        if (some && type_of(&v) == TYPE_NONE) continue;
        _context::set(&w, &v);
    }
}

}  // namespace

void set(bool, const int32_t* refs) {
    kiv_value target = *arg(0);
    kiv_value value = *arg(1);
    bool any_value = used(refs[0]), only = used(refs[2]), some = used(refs[3]);
    uint32_t t = type_of(&target);
    if (any_word_q(t)) {
        if (type_of(&value) == TYPE_UNSET && !any_value) fire(err::SCRIPT, err::script::need_value, &target);
        if (!(some && type_of(&value) == TYPE_NONE)) _context::set(&target, &value);
    } else if (path_kind_q(t)) {
        kiv_value name = name_word("set-path");
        stack::mark_native(&name);
        stack::push_value(&value);
        interpreter::eval_path(&target, nullptr, nullptr, nullptr, true, false, false);
        stack::unwind_drop();
    } else if (t == TYPE_BLOCK) {
        set_many(&target, &value, any_value, only, some);
    } else if (object_kind_q(t)) {
        object::set_many(&target, &value, any_value, only, some);
    } else {
        fire_invalid(&target);
    }
    stack::set_last(&value);
}

void unset(bool, const int32_t*) {
    kiv_value target = *arg(0);
    if (type_of(&target) != TYPE_BLOCK) {
        _context::set(&target, &unset_value);
    } else {
        for (uint32_t i = target.data1; i < block::length_all(&target); i++)
            if (!word_kind_q(type_of(block::cells(&target) + i))) fire_invalid(block::cells(&target) + i);
        for (uint32_t i = target.data1; i < block::length_all(&target); i++) {
            kiv_value w = block::cells(&target)[i];
            _context::set(&w, &unset_value);
        }
    }
    kiv::unset::return_();
}

void value_q(bool, const int32_t*) {
    const kiv_value* v = arg(0);
    bool has_value = true;
    if (any_word_q(type_of(v))) has_value = word_available_q(v) && type_of(_context::get(v)) != TYPE_UNSET;
    logic::box(has_value);
}

void context_q(bool, const int32_t*) {
    node_id ctx = arg(0)->data1;
    if (!ctx) {
        none::return_();
        return;
    }
    // A function's context keeps the function as its owner, an object's the
    // object; the global context's owner is the system/words object.
    kiv_value owner = *_context::self_of(ctx);
    if (type_of(&owner) == TYPE_UNSET) none::return_();
    else stack::set_last(&owner);
}

// An object from a spec taken as data: set-words name the fields, each
// taking the value after it; standard logic words become their values
// unless /only.
void construct(bool, const int32_t* refs) {
    const kiv_value* proto = used(refs[0]) ? arg(refs[0]) : nullptr;
    kiv_value object = *object::push_new(proto, arg(0), used(refs[1]));
    stack::set_last(&object);
}

// extend: an object gains the fields of the pairs, in place. Maps join
// with map!.
void in(bool, const int32_t*) {
    node_id ctx = context_of(arg(0));
    kiv_value w = *arg(1);
    if (_context::bind_word(ctx, &w) < 0) none::return_();
    else stack::set_last(&w);
}

void bind(bool, const int32_t* refs) {
    kiv_value target = *arg(0);
    node_id ctx = context_of(arg(1));
    if (any_word_q(type_of(&target))) {
        _context::bind_word(ctx, &target);
    } else {
        // A copy is deep through parens and paths too, so that the original
        // keeps every binding.
        if (used(refs[0])) target = *block::clone(&target, true, true);
        _context::bind(&target, ctx, (_context::cell_of(ctx)->header & CONTEXT_SELF) != 0);
    }
    stack::set_last(&target);
}

// Blocks ------------------------------------------------------------------------

namespace {

// Inserts the values of a block at the position of /into's target; the
// result is the target after them.
void insert_into(const kiv_value* target, const kiv_value* values) {
    kiv_value r = call_action(SLOT_INSERT, {*target, *values}, {-1, -1, -1});
    stack::set_last(&r);
}

}  // namespace

bool reduce_block(const kiv_value* blk_in, const kiv_value* out) {
    kiv_value blk = *blk_in;
    kiv_value* pos = block::ks_head(&blk);
    kiv_value* end = block::ks_tail(&blk);
    while (pos < end) {
        pos = interpreter::eval_next_keep(&blk, pos, end, true);
        if (interpreter::exit_pending_q()) return false;
        kiv_value v = *(stack::top - 1);
        stack::pop(1);
        cell::clear_flag(&v);
        *block::alloc_tail(out) = v;
    }
    return true;
}

void reduce(bool, const int32_t* refs) {
    kiv_value value = *arg(0);
    uint32_t t = type_of(&value);
    kiv_value out = *block::push_only(std::max(1, list_kind_q(t) ? block::ks_length_q(&value) : 1));
    if (list_kind_q(t)) {
        if (!reduce_block(&value, &out)) return;
    } else if (callable_q(t)) {
        *block::alloc_tail(&out) = value;
    } else {
        kiv_value* cell = stack::push_value(&value);
        interpreter::eval_next(cell, cell + 1, nullptr, false, true, true);
        if (interpreter::exit_pending_q()) return;
        kiv_value v = *(stack::top - 1);
        cell::clear_flag(&v);
        *block::alloc_tail(&out) = v;
    }
    if (used(refs[0])) insert_into(arg(refs[0]), &out);
    else if (list_kind_q(t)) stack::set_last(&out);
    else stack::set_last(block::cells(&out));
}

namespace {

// Pushes a copy of the block with each paren replaced by its value; null
// when an exit is pending.
kiv_value* compose_block(const kiv_value* src, bool deep, bool only) {
    kiv_value blk = *src;
    kiv_value* out_cell = block::push_only(std::max(1, block::ks_length_q(&blk)));
    out_cell->header = type_of(&blk);
    kiv_value out = *out_cell;
    // The source is read anew at each step: a paren may change it.
    for (uint32_t i = blk.data1; i < block::length_all(&blk); i++) {
        kiv_value cell = block::cells(&blk)[i];
        if (type_of(&cell) == TYPE_PAREN) {
            stack::mark_native(body_word());
            interpreter::eval(&cell, true);
            if (interpreter::exit_pending_q()) return nullptr;
            stack::unwind();
            kiv_value r = *(stack::top - 1);
            stack::pop(1);
            if (type_of(&r) == TYPE_BLOCK && !only) block::ks_append_block(&out, &r);
            else if (type_of(&r) != TYPE_UNSET) *block::alloc_tail(&out) = r;
        } else if (deep && type_of(&cell) == TYPE_BLOCK) {
            kiv_value* nested = compose_block(&cell, deep, only);
            if (!nested) return nullptr;
            kiv_value n = *nested;
            stack::pop(1);
            n.header = cell.header;
            *block::alloc_tail(&out) = n;
        } else {
            *block::alloc_tail(&out) = cell;
        }
    }
    return out_cell;
}

}  // namespace

void compose(bool, const int32_t* refs) {
    kiv_value value = *arg(0);
    bool into = used(refs[2]);
    if (type_of(&value) != TYPE_BLOCK) {
        if (!into) return;  // the value is its own result
        kiv_value one = *block::push_only(1);
        *block::alloc_tail(&one) = value;
        insert_into(arg(refs[2]), &one);
        return;
    }
    kiv_value* composed = compose_block(&value, used(refs[0]), used(refs[1]));
    if (!composed) return;
    kiv_value result = *composed;
    if (into) insert_into(arg(refs[2]), &result);
    else stack::set_last(&result);
}

void new_line(bool, const int32_t* refs) {
    kiv_value position = *arg(0);
    bool on = logic::truthy(arg(1));
    uint32_t step = used(refs[0]) ? 1 : 0;
    if (used(refs[1])) {
        int32_t size = integer::get_value(arg(refs[1]));
        if (size < 1) fire_invalid(arg(refs[1]));
        step = uint32_t(size);
    }
    for (uint32_t i = position.data1; i < block::length_all(&position); i += step) {
        kiv_value* c = block::cells(&position) + i;
        if (on) c->header |= FLAG_NEW_LINE;
        else cell::clear_flag(c);
        if (!step) break;
    }
    stack::set_last(&position);
}

void new_line_q(bool, const int32_t*) {
    kiv_value position = *arg(0);
    bool marked = position.data1 < block::length_all(&position) &&
                  (block::cells(&position)[position.data1].header & FLAG_NEW_LINE) != 0;
    logic::box(marked);
}

// apply -------------------------------------------------------------------------

void apply(bool, const int32_t* refs) {
    kiv_value fn = *arg(0);
    kiv_value args = *arg(1);
    uint32_t flags = (used(refs[0]) ? 1 : 2) | (used(refs[1]) ? 4 : 0);
    kiv_value name = name_word("<applied>");
    kiv_value callable = fn;
    kiv_value path = fn;
    bool through_path = path_kind_q(type_of(&fn));
    if (through_path) {
        // The path's refinements apply to the function its head word names.
        if (block::ks_length_q(&fn) <= 0) fire_invalid(&fn);
        name = block::cells(&fn)[fn.data1];
        if (type_of(&name) != TYPE_WORD) fire_invalid(&fn);
        callable = *_context::get(&name);
        // A function in an object: its fields lead to it.
        for (uint32_t k = fn.data1 + 1; object_kind_q(type_of(&callable)) && k < block::length_all(&fn); k++) {
            name = block::cells(&fn)[k];
            if (type_of(&name) != TYPE_WORD) fire_invalid(&fn);
            int32_t i = _context::find_word(callable.data1, word::symbol_of(&name), true);
            if (i < 0) fire_invalid(&fn);
            callable = object::get_values(&callable)[i];
        }
    } else if (word_kind_q(type_of(&fn))) {
        name = fn;
        name.header = TYPE_WORD;
        callable = *_context::get(&name);
    }
    if (!callable_q(type_of(&callable))) fire_invalid(&fn);
    if (type_of(&callable) == TYPE_OP) callable.header = op_wrapped_type(&callable);
    kiv_value* head = block::ks_head(&args);
    kiv_value* end = block::ks_tail(&args);
    interpreter::eval_code(&callable, head, end, &args, false, through_path ? &path : nullptr, &name, nullptr, flags,
                           false);
}

// extend: a map takes the pairs of a block, or the entries of another map.
void extend(bool, const int32_t* refs) {
    kiv_value target = *arg(0), spec = *arg(1);
    if (type_of(&target) == TYPE_OBJECT) {
        // A map's live entries are its body of key and value pairs.
        if (type_of(&spec) == TYPE_MAP) spec = *map::body_of(&spec, stack::push());
        object::extend(&target, &spec);
    } else if (type_of(&spec) != TYPE_MAP) {
        map::extend(&target, &spec, used(refs[0]));
    } else {
        for (uint32_t i = 0; i + 1 < map::entry_cells(&spec); i += 2) {
            kiv_value key = map::entries(&spec)[i], value = map::entries(&spec)[i + 1];
            if (!map::removed_q(&value)) map::set_key(&target, &key, &value, used(refs[0]), nullptr);
        }
    }
    stack::set_last(&target);
}

}  // namespace kiv::natives
