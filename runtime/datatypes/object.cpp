// object!: making, copying, change notification and the object actions.
#include "runtime/datatypes/object.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/cycles.h"
#include "runtime/ownership.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/stack.h"

namespace kiv::object {

namespace {

int32_t class_counter = FIRST_CLASS;

int32_t resolved(const char* name) { return symbol::resolve(symbol::make(name)); }
int32_t resolved(const kiv_value* w) { return symbol::resolve(word::symbol_of(w)); }

kiv_value* values_of(node_id ctx) { return context::heap_value_ref(ctx, 0); }
kiv_value* entries_of(node_id ctx) { return context::value_ref(ctx, 0); }

// The field of recent (context, word) pairs. A path such as o/n looks its
// field up at every step of a loop, and the hash table's probe was most of
// that. While no node's buffer has changed (memory::layout_epoch) the context is
// the same, its words only ever grow and its buffers stay where they are, so
// the index and the cells hold; after that, an entry is trusted only when the
// context still holds the same word at that index (a context never has two
// spellings of one word), so a reused node is merely a miss.
struct field_hit {
    node_id ctx;
    int32_t symbol;
    uint32_t index;
    uint64_t epoch;
    kiv_value* entry;
    kiv_value* value;
};
std::array<field_hit, 256> recent_fields{};

// Fills or refreshes an entry that is not at hand; null for a word the
// context lacks.
[[gnu::noinline]] field_hit* refresh_field(field_hit& hit, node_id ctx, int32_t symbol) {
    if (hit.ctx == ctx && hit.symbol == symbol &&
        (hit.index >= _context::words_count(ctx) || word::symbol_of(entries_of(ctx) + hit.index) != symbol))
        hit.ctx = 0;
    if (hit.ctx != ctx || hit.symbol != symbol) {
        int32_t index = _context::find_word(ctx, symbol, true);
        if (index < 0) return nullptr;
        hit.ctx = ctx;
        hit.symbol = symbol;
        hit.index = uint32_t(index);
    }
    hit.epoch = memory::layout_epoch;
    hit.entry = entries_of(ctx) + hit.index;
    hit.value = values_of(ctx) + hit.index;
    return &hit;
}

inline field_hit* field_of(node_id ctx, int32_t symbol) {
    field_hit& hit = recent_fields[(ctx * 31u + uint32_t(symbol)) % recent_fields.size()];
    if (hit.ctx == ctx && hit.symbol == symbol && hit.epoch == memory::layout_epoch) [[likely]]
        return &hit;
    return refresh_field(hit, ctx, symbol);
}

int32_t field_index(node_id ctx, int32_t symbol) {
    field_hit* hit = field_of(ctx, symbol);
    return hit ? int32_t(hit->index) : -1;
}

// Writes the object value into its context's self cell.
void write_self(const kiv_value* obj) { *_context::self_of(obj->data1) = *obj; }

// The handler record: cell 0 for on-change*, cell 1 for on-deep-change*,
// each {type pair!, 0, field index << 16 | local slot count, spec node}.
kiv_value* handler_cell(const kiv_value* obj, uint32_t which) {
    return reinterpret_cast<kiv_value*>(series::buffer(obj->data3)->offset) + which;
}

uint32_t handler_index(const kiv_value* cell) { return cell->data2 >> 16; }

int32_t local_count(const kiv_value* fn) {
    kiv_value spec{TYPE_BLOCK, 0, fn->data2, 0};
    return function::locate_refinement(&spec, 0, false);
}

bool series_kind_q(uint32_t t) {
    return series::block_like_q(t) || series::string_like_q(t) || t == TYPE_VECTOR || t == TYPE_BINARY ||
           t == TYPE_IMAGE;
}

kiv_value deep_copy(const kiv_value* v) {
    kiv_value* result = stack::push();
    *result = unset_value;
    kiv_value src = *v;
    actions::get<SLOT_COPY>(&src)(&src, result, nullptr, true, nullptr);
    kiv_value out = *result;
    out.header = (out.header & TYPE_MASK) | (src.header & ~TYPE_MASK);
    stack::pop(1);
    return out;
}

}  // namespace

int32_t new_class_id() { return ++class_counter; }

int32_t find_word(const kiv_value* obj, const kiv_value* word) {
    return _context::find_word(obj->data1, word::symbol_of(word), true);
}

kiv_value* get_field(const kiv_value* obj, const kiv_value* word) {
    int32_t index = find_word(obj, word);
    return index < 0 ? const_cast<kiv_value*>(&none_value) : values_of(obj->data1) + index;
}

kiv_value* get_values(const kiv_value* obj) { return values_of(obj->data1); }
uint32_t words_count(const kiv_value* obj) { return _context::words_count(obj->data1); }

kiv_value* make_at(kiv_value* cell, uint32_t size) {
    cell->header = TYPE_UNSET;
    node_id ctx = _context::create(size, false, true, 0, CTX_OBJECT);
    *cell = kiv_value{TYPE_OBJECT, ctx, 0, 0};
    write_self(cell);
    return cell;
}

kiv_value* push(node_id ctx, int32_t class_id) {
    kiv_value obj{TYPE_OBJECT, ctx, uint32_t(class_id), 0};
    series_buffer* values = series::buffer(_context::cell_of(ctx)->data2);
    if (values->tail == values->offset) values->tail = values->offset + size_t(_context::words_count(ctx)) * sizeof(kiv_value);
    write_self(&obj);
    return stack::push_value(&obj);
}

void clear_applied(node_id ctx) {
    kiv_value* entries = entries_of(ctx);
    for (uint32_t i = 0; i < _context::words_count(ctx); i++) entries[i].header &= ~ENTRY_SET;
}

void clear_flags(const kiv_value* blk) {
    for (uint32_t i = blk->data1; i < block::length_all(blk); i++) block::cells(blk)[i].header &= ~FLAG_NEW_LINE;
}

void attach_handlers(node_id ctx, kiv_value* obj) {
    int32_t change = resolved("on-change*"), deep = resolved("on-deep-change*");
    int32_t indexes[2] = {-1, -1};
    kiv_value* entries = entries_of(ctx);
    for (uint32_t i = 0; i < _context::words_count(ctx); i++) {
        int32_t s = resolved(entries + i);
        if (s == change) indexes[0] = int32_t(i);
        if (s == deep) indexes[1] = int32_t(i);
    }
    obj->data3 = 0;
    if (indexes[0] < 0 && indexes[1] < 0) {
        write_self(obj);
        return;
    }
    kiv_value record_cells[2];
    for (int k = 0; k < 2; k++) {
        record_cells[k] = kiv_value{TYPE_PAIR, 0, NO_HANDLER << 16, 0};
        if (indexes[k] < 0) continue;
        kiv_value fn = values_of(ctx)[indexes[k]];
        if (type_of(&fn) != TYPE_FUNCTION && type_of(&fn) != TYPE_ROUTINE) {
            kiv_value w = entries_of(ctx)[indexes[k]], dt;
            datatype::make_at(&dt, type_of(&fn));
            fire(err::SCRIPT, err::script::bad_field_set, &w, &dt);
        }
        record_cells[k].data2 = (uint32_t(indexes[k]) << 16) | uint32_t(std::max(0, local_count(&fn)));
        record_cells[k].data3 = fn.data2;
    }
    node_id record = memory::alloc_cells(2);
    series_buffer* b = series::buffer(record);
    std::memcpy(b->offset, record_cells, sizeof record_cells);
    b->tail = b->offset + sizeof record_cells;
    obj->data3 = record;
    write_self(obj);
    // An object that reacts to deep changes owns the series in its fields.
    if (indexes[1] >= 0) {
        kiv_value owner = *obj;
        ownership::set(&owner, &owner, &owner);
    }
}

void fire_on_change(const kiv_value* obj_in, const kiv_value* word_in, const kiv_value* old_value,
                    const kiv_value* new_value) {
    kiv_value obj = *obj_in;
    if (!obj.data3) return;
    // A series stored in a field of an owner becomes owned with the field.
    if (handler_index(handler_cell(&obj, 1)) != NO_HANDLER && ownership::key_of(new_value) &&
        type_of(new_value) != TYPE_OBJECT) {
        int32_t index = find_word(&obj, word_in);
        if (index >= 0) {
            kiv_value w = *word_in;
            ownership::set(values_of(obj.data1) + index, &obj, &w);
        }
    }
    kiv_value* cell = handler_cell(&obj, 0);
    uint32_t index = handler_index(cell);
    if (index == NO_HANDLER) return;
    kiv_value fn = values_of(obj.data1)[index];
    if (type_of(&fn) != TYPE_FUNCTION) fire(err::SCRIPT, err::script::invalid_obj_evt, &fn);
    if (cell->data3 != fn.data2) {
        cell->data2 = (index << 16) | uint32_t(std::max(0, local_count(&fn)));
        cell->data3 = fn.data2;
    }
    int32_t locals = int32_t(cell->data2 & 0xFFFF);
    kiv_value w = *word_in, old_copy = *old_value, new_copy = *new_value;
    if (w.data1 != obj.data1) _context::bind_word(obj.data1, &w);
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    kiv_value* name = word::load("on-change*");
    stack::mark_func(name, fn.data1);
    stack::push_value(&w);
    stack::push_value(&old_copy);
    stack::push_value(&new_copy);
    if (locals >= 1) function::init_locals(locals);
    interpreter::call_function(&fn, obj.data1, name, interpreter::CB_CHANGE);
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
}

void fire_on_deep_change(const kiv_value* owner_in, const kiv_value* word, const kiv_value* target,
                         const kiv_value* action, const kiv_value* value, int32_t index, int32_t part) {
    kiv_value owner = *owner_in;
    if (!owner.data3) fire(err::SCRIPT, err::script::invalid_obj_evt, &owner);
    kiv_value* cell = handler_cell(&owner, 1);
    uint32_t slot = handler_index(cell);
    if (slot == NO_HANDLER) return;
    kiv_value fn = values_of(owner.data1)[slot];
    if (type_of(&fn) != TYPE_FUNCTION) return;
    if (cell->data3 != fn.data2) {
        cell->data2 = (slot << 16) | uint32_t(std::max(0, local_count(&fn)));
        cell->data3 = fn.data2;
    }
    int32_t locals = int32_t(cell->data2 & 0xFFFF);
    kiv_value args[7] = {owner, *word, *target, *action, value ? *value : none_value, {}, {}};
    integer::make_at(&args[5], index);
    integer::make_at(&args[6], part);
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    kiv_value* name = word::load("on-deep-change*");
    stack::mark_func(name, fn.data1);
    for (const kiv_value& a : args) stack::push_value(&a);
    if (locals >= 1) function::init_locals(locals);
    interpreter::call_function(&fn, owner.data1, name, interpreter::CB_DEEP);
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
}

// Stores a field and notifies the handler. A path or `put` may replace a
// handler itself, which is then told of its own change; only `set` of many
// fields at once leaves the handlers as they are (see set_many).
static void store(kiv_value* obj, uint32_t index, const kiv_value* value) {
    node_id ctx = obj->data1;
    entries_of(ctx)[index].header |= ENTRY_SET;
    if (!obj->data3) {
        values_of(ctx)[index] = *value;
        return;
    }
    kiv_value old = values_of(ctx)[index];
    kiv_value v = *value;
    values_of(ctx)[index] = v;
    kiv_value w = entries_of(ctx)[index];
    fire_on_change(obj, &w, &old, &v);
}

kiv_value* path_field(const kiv_value* obj, const kiv_value* word, const kiv_value* value) {
    field_hit* hit = field_of(obj->data1, word::symbol_of(word));
    if (!hit) return nullptr;
    if (!value) return hit->value;
    if (!obj->data3) {
        hit->entry->header |= ENTRY_SET;
        *hit->value = *value;
        return hit->value;
    }
    kiv_value o = *obj;
    uint32_t index = hit->index;
    store(&o, index, value);
    return values_of(o.data1) + index;
}

// A field set among many: the handler fields are visited but keep their
// functions.
static void store_unless_handler(kiv_value* obj, uint32_t index, const kiv_value* value) {
    if (obj->data3 &&
        (index == handler_index(handler_cell(obj, 0)) || index == handler_index(handler_cell(obj, 1)))) {
        entries_of(obj->data1)[index].header |= ENTRY_SET;
        return;
    }
    store(obj, index, value);
}

void set_many(kiv_value* obj_in, const kiv_value* value_in, bool any, bool only, bool some) {
    kiv_value obj = *obj_in, value = *value_in;
    node_id ctx = obj.data1;
    uint32_t n = _context::words_count(ctx);
    uint32_t t = type_of(&value);
    if (!only && (t == TYPE_BLOCK || t == TYPE_OBJECT)) {
        auto source = [&](uint32_t i, kiv_value* out) {
            if (t == TYPE_OBJECT) {
                int32_t k = _context::find_word(value.data1, word::symbol_of(entries_of(ctx) + i), true);
                if (k < 0) return false;
                *out = values_of(value.data1)[k];
                return true;
            }
            uint32_t at = value.data1 + i;
            *out = at < block::length_all(&value) ? block::cells(&value)[at] : none_value;
            return true;
        };
        if (!some) {
            for (uint32_t i = 0; i < n; i++) {
                kiv_value v;
                if (source(i, &v) && type_of(&v) == TYPE_UNSET && !any) {
                    kiv_value w = entries_of(ctx)[i];
                    fire(err::SCRIPT, err::script::need_value, &w);
                }
            }
        }
        for (uint32_t i = 0; i < n; i++) {
            kiv_value v;
            if (!source(i, &v)) continue;
            if (some && type_of(&v) == TYPE_NONE) continue;
            store_unless_handler(&obj, i, &v);
        }
        return;
    }
    for (uint32_t i = 0; i < n; i++) store_unless_handler(&obj, i, &value);
}

int32_t mold_fields(const kiv_value* obj_in, kiv_value* buffer, bool only, bool all, bool flat, int32_t part,
                    bool indent, int32_t level, bool leading_newline) {
    kiv_value obj = *obj_in;
    node_id ctx = obj.data1;
    int32_t change = resolved("on-change*"), deep = resolved("on-deep-change*");
    cycles::push(ctx);
    if (leading_newline && !flat) {
        string::concatenate_literal(buffer, "\n");
        part--;
    }
    uint32_t n = _context::words_count(ctx);
    for (uint32_t i = 0; i < n && part >= 1; i++) {
        kiv_value w = entries_of(ctx)[i];
        int32_t s = resolved(&w);
        if (!all && (s == change || s == deep)) continue;
        if (indent && !flat)
            for (int32_t l = 0; l < level; l++) {
                string::concatenate_literal(buffer, "    ");
                part -= 4;
            }
        w.header = TYPE_WORD;
        part = actions::mold_typed(&w, buffer, false, all, flat, nullptr, part, level);
        string::concatenate_literal(buffer, ": ");
        part -= 2;
        kiv_value v = values_of(ctx)[i];
        if (type_of(&v) == 0) v = unset_value;
        if (type_of(&v) == TYPE_WORD) {
            string::concatenate_literal(buffer, "'");
            part--;
        }
        part = actions::mold_typed(&v, buffer, false, all, flat, nullptr, part, level);
        // Under /flat a space only goes between fields: none before "]".
        bool another = i + 1 < n;
        if (another || (indent && !only && !flat)) {
            string::concatenate_literal(buffer, flat ? " " : "\n");
            part--;
        }
    }
    cycles::pop();
    return part;
}

void rebind_function(kiv_value* fn, const kiv_value* obj) {
    kiv_value body = *function::extra_cell_of(fn, function::EXTRA_BODY);
    if (type_of(&body) != TYPE_BLOCK) fire(err::SCRIPT, err::script::bad_func_def, fn);
    kiv_value old = *fn;
    node_id ctx = _context::create(_context::words_count(old.data1), true, false, old.data1, CTX_FUNCTION);
    kiv_value* words = context::value_ref(ctx, 0);
    for (uint32_t i = 0; i < _context::words_count(ctx); i++) words[i].data1 = ctx;
    kiv_value copy = *block::clone(&body, true, true);
    stack::pop(1);
    _context::bind(&copy, obj->data1, true);
    _context::bind(&copy, ctx, false);
    kiv_value spec{TYPE_BLOCK, 0, old.data2, 0};
    function::push(&spec, nullptr, ctx, 0, 0, old.header & ~TYPE_MASK);
    kiv_value made = *(stack::top - 1);
    stack::pop(1);
    *function::extra_cell_of(&made, function::EXTRA_BODY) = copy;
    *fn = made;
}

kiv_value* copy_to(const kiv_value* obj_in, kiv_value* result, bool deep, kiv_value* types, bool handlers) {
    kiv_value obj = *obj_in;
    node_id old = obj.data1;
    if (deep && types && cycles::find_q(old)) {
        cycles::reset();
        fire(err::INTERNAL, err::internal::no_cycle);
    }
    uint32_t n = _context::words_count(old);
    node_id ctx = _context::create(n, false, true, old, CTX_OBJECT);
    kiv_value* entries = entries_of(ctx);
    for (uint32_t i = 0; i < n; i++) entries[i].data1 = ctx;
    for (uint32_t i = 0; i < n; i++) {
        kiv_value v = values_of(old)[i];
        *series::alloc_tail_cell(series::buffer(_context::cell_of(ctx)->data2)) = v;
    }
    *result = kiv_value{obj.header, ctx, obj.data2, handlers ? 0 : obj.data3};
    write_self(result);
    kiv_value res = *result;
    cycles::push(old);
    for (uint32_t i = 0; i < n; i++) {
        kiv_value v = values_of(ctx)[i];
        uint32_t t = type_of(&v);
        if (t == TYPE_FUNCTION) {
            rebind_function(&v, &res);
            values_of(ctx)[i] = v;
        } else if (deep && !types && (series::block_like_q(t) || series::string_like_q(t))) {
            values_of(ctx)[i] = deep_copy(&v);
        }
    }
    cycles::pop();
    if (handlers) attach_handlers(ctx, result);
    return result;
}

static void copy_values(node_id proto, node_id ctx, bool all) {
    uint32_t n = _context::words_count(proto);
    for (uint32_t i = 0; i < n; i++) {
        kiv_value v = values_of(proto)[i];
        uint32_t t = type_of(&v);
        if (series_kind_q(t)) {
            kiv_value copy = deep_copy(&v);
            if (series::block_like_q(t)) _context::bind(&copy, ctx, true);
            values_of(ctx)[i] = copy;
        } else if (all) {
            values_of(ctx)[i] = v;
        }
    }
}

bool load_spec(node_id ctx, const kiv_value* blk_in, bool only) {
    kiv_value blk = *blk_in;
    uint32_t before = _context::words_count(ctx);
    uint32_t length = block::length_all(&blk);
    for (uint32_t i = blk.data1; i < length; i++) {
        kiv_value w = block::cells(&blk)[i];
        if (type_of(&w) != TYPE_SET_WORD) continue;
        uint32_t k = i + 1;
        while (k < length && type_of(block::cells(&blk) + k) == TYPE_SET_WORD) k++;
        kiv_value v = k < length ? block::cells(&blk)[k] : none_value;
        if (!only && type_of(&v) == TYPE_WORD) {
            int32_t s = resolved(&v);
            if (s == resolved("true") || s == resolved("yes") || s == resolved("on")) v = true_value;
            else if (s == resolved("false") || s == resolved("no") || s == resolved("off")) v = false_value;
            else if (s == resolved("none")) v = none_value;
        }
        _context::add_with_value(ctx, &w, &v);
    }
    return _context::words_count(ctx) > before;
}

kiv_value* push_new(const kiv_value* proto, const kiv_value* blk, bool only) {
    kiv_value* result = stack::push();
    *result = unset_value;
    if (proto && type_of(proto) == TYPE_OBJECT) copy_to(proto, result, true, nullptr, false);
    else {
        make_at(result, 4);
        result->data2 = uint32_t(new_class_id());
        write_self(result);
    }
    load_spec(result->data1, blk, only);
    return result;
}

// Actions ---------------------------------------------------------------------------

namespace {

kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t) {
    kiv_value s = *spec;
    kiv_value* result = stack::push();
    *result = unset_value;
    bool from_object = type_of(proto) == TYPE_OBJECT;
    if (from_object) copy_to(proto, result, true, nullptr, false);
    else make_at(result, 4);
    kiv_value obj = *result;
    node_id ctx = obj.data1;
    int32_t class_id = from_object ? int32_t(obj.data2) : 0;
    if (type_of(&s) == TYPE_OBJECT) {
        uint32_t before = _context::words_count(ctx);
        for (uint32_t i = 0; i < _context::words_count(s.data1); i++)
            _context::add_with_value(ctx, entries_of(s.data1) + i, values_of(s.data1) + i);
        if (_context::words_count(ctx) > before) class_id = new_class_id();
    } else if (type_of(&s) == TYPE_BLOCK) {
        bool gained = _context::collect_set_words(ctx, &s);
        _context::bind(&s, ctx, true);
        if (from_object) copy_values(proto->data1, ctx, false);
        interpreter::eval(&s, false);
        if (interpreter::exit_pending_q()) return result;
        stack::pop(1);  // the spec's result
        clear_applied(ctx);
        series_buffer* vb = series::buffer(_context::cell_of(ctx)->data2);
        kiv_value values{TYPE_BLOCK, 0, vb->node, 0};
        clear_flags(&values);
        if (gained || !from_object) class_id = new_class_id();
    } else {
        fire(err::SYNTAX, err::syntax::malconstruct, spec);
    }
    result->data2 = uint32_t(class_id);
    attach_handlers(ctx, result);
    return result;
}

kiv_value* copy(kiv_value* obj, kiv_value* result, kiv_value* part, bool deep, kiv_value* types) {
    if (part) {
        kiv_value w = actions::refinement_word("part");
        fire(err::SCRIPT, err::script::invalid_refine_arg, &w, part);
    }
    return copy_to(obj, result, deep, types, true);
}

void reflect(kiv_value* obj, uint32_t field) {
    node_id ctx = obj->data1;
    int32_t s = symbol::resolve(int32_t(field));
    uint32_t n = _context::words_count(ctx);
    kiv_value out{TYPE_UNSET, 0, 0, 0};
    if (s == resolved("words") || s == resolved("<applied>")) {
        bool applied = s == resolved("<applied>");
        block::make_at(&out, int32_t(n));
        for (uint32_t i = 0; i < n; i++) {
            kiv_value w = entries_of(ctx)[i];
            if (applied && !(w.header & ENTRY_SET)) continue;
            w.header = TYPE_WORD;
            *block::alloc_tail(&out) = w;
        }
    } else if (s == resolved("values")) {
        block::make_at(&out, int32_t(n));
        for (uint32_t i = 0; i < n; i++) *block::alloc_tail(&out) = values_of(ctx)[i];
    } else if (s == resolved("body")) {
        body_into(obj, &out);
    } else if (s == resolved("class")) {
        integer::make_at(&out, int32_t(obj->data2));
    } else if (s == resolved("owner")) {
        out = (_context::cell_of(ctx)->header & 0x10000) ? true_value : false_value;
    } else if (s == resolved("events?")) {
        out = obj->data3 ? true_value : false_value;
    } else {
        fire(err::INTERNAL, err::internal::not_done);
    }
    stack::set_last(&out);
}

int32_t form(kiv_value* obj, kiv_value* buffer, kiv_value*, int32_t part) {
    if (cycles::detect_q(obj, buffer, &part, false)) return part;
    return mold_fields(obj, buffer, false, false, false, part, false, 0, false);
}

int32_t mold(kiv_value* obj, kiv_value* buffer, bool only, bool all, bool flat, kiv_value*, int32_t part,
             int32_t indent) {
    if (cycles::detect_q(obj, buffer, &part, true)) return part;
    if (!only) {
        string::concatenate_literal(buffer, "make object! [");
        part -= 14;
    }
    part = mold_fields(obj, buffer, only, all, flat, part, !only, indent + 1, !only);
    if (!flat && indent >= 1)
        for (int32_t l = 0; l < indent; l++) {
            string::concatenate_literal(buffer, "    ");
            part -= 4;
        }
    if (!only) {
        string::concatenate_literal(buffer, "]");
        part--;
    }
    return part;
}

kiv_value* eval_path(kiv_value* obj, kiv_value* element, kiv_value* value, kiv_value* path, kiv_value*,
                     kiv_value*, int32_t, bool, bool get, bool tail, bool) {
    kiv_value p = path ? *path : none_value;
    uint32_t t = type_of(element);
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD)
        fire(err::SCRIPT, err::script::invalid_path, &p, element);
    node_id ctx = obj->data1;
    int32_t index = element->data1 == ctx ? word::index_of(element) : -1;
    if (index < 0) {
        index = field_index(ctx, word::symbol_of(element));
        if (index >= 0) {
            element->data1 = ctx;
            element->data3 = uint32_t(index);
        }
    }
    auto missing = [&]() -> kiv_value* {
        if (get && tail) return const_cast<kiv_value*>(&none_value);
        fire(err::SCRIPT, tail ? err::script::invalid_path : err::script::unset_path, &p, element);
    };
    if (index < 0) return missing();
    if (value) {
        kiv_value o = *obj;
        store(&o, uint32_t(index), value);
        return value;
    }
    kiv_value* v = values_of(ctx) + index;
    if (type_of(v) == TYPE_UNSET) return missing();
    return v;
}

int32_t compare(kiv_value* obj1, kiv_value* obj2, int32_t op) {
    if (type_of(obj2) != TYPE_OBJECT) return COMPARE_INCOMPARABLE;
    node_id a = obj1->data1, b = obj2->data1;
    if (a == b) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(a)) return cycles::find_q(b) ? 0 : -1;
    uint32_t na = _context::words_count(a), nb = _context::words_count(b);
    if (na != nb) return na > nb ? 1 : -1;
    cycles::push(a);
    cycles::push(b);
    int32_t result = 0;
    for (uint32_t i = 0; i < na && result == 0; i++) {
        int32_t sa = resolved(entries_of(a) + i), sb = resolved(entries_of(b) + i);
        if (sa != sb) {
            result = sa < sb ? -1 : 1;
            break;
        }
        kiv_value x = values_of(a)[i], y = values_of(b)[i];
        uint32_t tx = type_of(&x), ty = type_of(&y);
        auto number = [](uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
        bool comparable = tx == ty || (any_word_q(tx) && any_word_q(ty)) || (number(tx) && number(ty));
        result = comparable ? actions::compare_values(&x, &y, op) : (tx < ty ? -1 : 1);
    }
    cycles::drop(2);
    return result;
}

kiv_value* put(kiv_value* obj, kiv_value* key, kiv_value* value, bool case_) {
    if (type_of(key) != TYPE_WORD) {
        kiv_value dt;
        datatype::make_at(&dt, type_of(key));
        fire(err::SCRIPT, err::script::invalid_key_type, &dt);
    }
    kiv_value k = *key;
    return eval_path(obj, &k, value, nullptr, nullptr, nullptr, -1, case_, false, false, false);
}

kiv_value* select(kiv_value* obj, kiv_value* value, kiv_value*, bool, bool, bool, bool, kiv_value*, kiv_value*,
                  bool, bool) {
    uint32_t t = type_of(value);
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) {
        kiv_value dt;
        datatype::make_at(&dt, t);
        fire(err::SCRIPT, err::script::invalid_type, &dt);
    }
    return get_field(obj, value);
}

kiv_value* modify(kiv_value* obj, kiv_value* field, kiv_value* value, bool) {
    int32_t s = resolved(field);
    if (s == resolved("<applied>")) {
        if (type_of(value) != TYPE_NONE) fire(err::SCRIPT, err::script::invalid_arg, value);
        clear_applied(obj->data1);
    } else if (s == resolved("owner")) {
        kiv_value owner = *obj;
        ownership::set(&owner, &owner, &owner);
    } else if (s == resolved("owned")) {
        ownership::modify_owned(obj, value);
    }
    return value;
}

}  // namespace

void extend(kiv_value* obj_in, const kiv_value* spec) {
    kiv_value obj = *obj_in, pairs = *spec;
    for (uint32_t i = pairs.data1; i < block::length_all(&pairs); i += 2) {
        kiv_value key = block::cells(&pairs)[i];
        kiv_value value = i + 1 < block::length_all(&pairs) ? block::cells(&pairs)[i + 1] : none_value;
        if (!any_word_q(type_of(&key))) fire(err::SCRIPT, err::script::invalid_arg, &key);
        key.header = TYPE_WORD;
        // A field that exists is set as `put` sets it, telling the handler.
        if (find_word(&obj, &key) >= 0) put(&obj, &key, &value, false);
        else _context::add_with_value(obj.data1, &key, &value);
    }
}

kiv_value* body_into(const kiv_value* obj, kiv_value* out) {
    node_id ctx = obj->data1;
    uint32_t n = _context::words_count(ctx);
    block::make_at(out, int32_t(2 * n));
    for (uint32_t i = 0; i < n; i++) {
        kiv_value w = entries_of(ctx)[i];
        w.header = TYPE_SET_WORD | FLAG_NEW_LINE;
        *block::alloc_tail(out) = w;
        kiv_value v = values_of(ctx)[i];
        if (type_of(&v) == TYPE_WORD) cell::set_type(&v, TYPE_LIT_WORD);
        else if (type_of(&v) == TYPE_PATH) cell::set_type(&v, TYPE_LIT_PATH);
        *block::alloc_tail(out) = v;
    }
    return out;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_OBJECT, 0, "object!", {
        impl<SLOT_MAKE>(make),            // make
        UNSUPPORTED,                      // random
        impl<SLOT_REFLECT>(reflect),      // reflect
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
        impl<SLOT_COPY>(copy),            // copy
        UNSUPPORTED,                      // find
        UNSUPPORTED,                      // head
        UNSUPPORTED,                      // head?
        UNSUPPORTED,                      // index?
        UNSUPPORTED,                      // insert
        UNSUPPORTED,                      // length?
        UNSUPPORTED,                      // move
        UNSUPPORTED,                      // next
        UNSUPPORTED,                      // pick
        UNSUPPORTED,                      // poke
        impl<SLOT_PUT>(put),              // put
        UNSUPPORTED,                      // remove
        UNSUPPORTED,                      // reverse
        impl<SLOT_SELECT>(select),        // select
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
        impl<SLOT_MODIFY>(modify),        // modify
        UNSUPPORTED,                      // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        UNSUPPORTED,                      // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        UNSUPPORTED,                      // write
    });
}

}  // namespace kiv::object
