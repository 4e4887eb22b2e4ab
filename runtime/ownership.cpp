// The ownership table.
#include "runtime/ownership.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"

#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/datatypes/logic.h"

namespace kiv::ownership {

node_id table = 0;
namespace {
// Hands the change to the owner object's handler, the action as its word.
void notify_object(kiv_value* owner, kiv_value* word, kiv_value* value, int32_t action, kiv_value* new_value,
                   int32_t index, int32_t part) {
    kiv_value target = *value;
    kiv_value action_word = *word::from_symbol(action);
    object::fire_on_deep_change(owner, word, &target, &action_word, new_value, index, part);
}
}  // namespace

notify_fn fire_on_deep_change = notify_object;

namespace {

bool object_q(const kiv_value* v) { return type_of(v) == TYPE_OBJECT; }

bool nested_q(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || t == TYPE_PATH || t == TYPE_LIT_PATH ||
           t == TYPE_SET_PATH || t == TYPE_GET_PATH;
}

// The owned flag: in the series buffer, or in the cell for an image (whose
// pixels are not a series buffer).
bool owned_q(const kiv_value* v) {
    if (type_of(v) == TYPE_IMAGE) return v->header & IMAGE_OWNED;
    return series::buffer(key_of(v))->flags & SERIES_OWNED;
}

void set_owned(kiv_value* v, bool on) {
    if (type_of(v) == TYPE_IMAGE) {
        v->header = on ? v->header | IMAGE_OWNED : v->header & ~IMAGE_OWNED;
        return;
    }
    series_buffer* b = series::buffer(key_of(v));
    b->flags = on ? b->flags | SERIES_OWNED : b->flags & ~SERIES_OWNED;
}

// An object's fields: the context's words block and values series.
uint32_t field_count(node_id ctx) { return _context::words_count(ctx); }
kiv_value field_word(node_id ctx, uint32_t i) {
    return reinterpret_cast<kiv_value*>(series::buffer(_context::words_block(ctx))->offset)[i];
}
kiv_value* field_value(node_id ctx, uint32_t i) {
    return reinterpret_cast<kiv_value*>(series::buffer(_context::cell_of(ctx)->data2)->offset) + i;
}
bool has_values_q(node_id ctx) { return !_context::on_stack_q(ctx) && _context::cell_of(ctx)->data2; }

// Calls fn(value cell, its word) on every field of an object except those
// holding the owner itself, unless the object is already being walked.
template <class F>
void each_field(const kiv_value* object, node_id skip_ctx, F fn) {
    node_id ctx = object->data1;
    if (!ctx || !has_values_q(ctx) || cycles::find_q(ctx)) return;
    cycles::push(ctx);
    for (uint32_t i = 0; i < field_count(ctx); i++) {
        kiv_value* v = field_value(ctx, i);
        if (object_q(v) && skip_ctx && v->data1 == skip_ctx) continue;
        kiv_value word = field_word(ctx, i);
        fn(v, &word);
    }
    cycles::pop();
}

// Calls fn(cell) on every cell of a block from its head, unless the block
// is already being walked. Cells are read through the node each time: fn
// may allocate.
template <class F>
void each_cell(const kiv_value* blk, F fn) {
    node_id node = blk->data2;
    if (cycles::find_q(node)) return;
    cycles::push(node);
    for (uint32_t i = blk->data1; i < series::used_units(series::buffer(node)); i++)
        fn(reinterpret_cast<kiv_value*>(series::buffer(node)->offset) + i);
    cycles::pop();
}

}  // namespace

void init() { table = hashtable::init(START_SIZE, nullptr, hashtable::KIND_OWNERSHIP, EXTRA_CELLS); }

node_id key_of(const kiv_value* value) {
    switch (type_of(value)) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH:
        case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
        case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR:
        case TYPE_IMAGE: case TYPE_BITSET:
            return value->data2;
        case TYPE_OBJECT:
            return value->data1;
        default:
            return 0;
    }
}

void bind(kiv_value* value, const kiv_value* owner, const kiv_value* word) {
    // Copies: storing an entry allocates, and the cells may lie in series.
    kiv_value v = *value, o = *owner, w = *word;
    if (object_q(&v)) {
        each_field(&v, o.data1, [&](kiv_value* field, const kiv_value* field_word) { bind(field, &o, field_word); });
        return;
    }
    node_id key = key_of(&v);
    if (!key) return;
    if (!owned_q(value) || type_of(&v) == TYPE_BITSET) {
        set_owned(value, true);
        v = *value;
        kiv_value* entry = hashtable::put_index(table, key);
        entry[0] = v;
        entry[1] = o;
        entry[2] = w;
    }
    if (nested_q(type_of(&v))) each_cell(&v, [&](kiv_value* cell) { bind(cell, &o, &w); });
}

void set(kiv_value* value, const kiv_value* owner, const kiv_value* word) {
    kiv_value o = *owner;
    bind(value, &o, word);
    if (o.data1) _context::cell_of(o.data1)->header |= CONTEXT_OWNS;
}

void unbind(kiv_value* value) {
    kiv_value v = *value;
    if (object_q(&v)) {
        each_field(&v, 0, [](kiv_value* field, const kiv_value*) { unbind(field); });
        return;
    }
    node_id key = key_of(&v);
    if (!key) return;
    set_owned(value, false);
    hashtable::refresh(table);  // removal probes by node: a stale table must be rebuilt first
    hashtable::remove_ptr(table, key);
    if (nested_q(type_of(&v))) each_cell(&v, [](kiv_value* cell) { unbind(cell); });
}

void unbind_range(const kiv_value* blk, uint32_t index, uint32_t count) {
    node_id node = blk->data2;
    uint32_t from = blk->data1 + index;
    for (uint32_t i = from; i < from + count && i < series::used_units(series::buffer(node)); i++)
        unbind(reinterpret_cast<kiv_value*>(series::buffer(node)->offset) + i);
}

void modify_owned(kiv_value* value, const kiv_value* spec) {
    if (type_of(spec) == TYPE_NONE) {
        unbind(value);
        return;
    }
    if (type_of(spec) != TYPE_BLOCK || block::ks_length_q(spec) < 2) return;
    kiv_value owner = block::cells(spec)[spec->data1], word = block::cells(spec)[spec->data1 + 1];
    if (object_q(&owner) && any_word_q(type_of(&word))) set(value, &owner, &word);
}

void reflect_owner(const kiv_value* value) {
    node_id key = key_of(value);
    kiv_value* owner = key ? owner_of(key) : nullptr;
    stack::set_last(owner ? owner : &none_value);
}

kiv_value* owner_of(node_id node) {
    kiv_value* entry = hashtable::find_ptr(table, node);
    return entry ? entry + 1 : nullptr;
}

namespace {
// The owners whose handlers are running: a handler that changes series of its
// own object (its log, the target itself) is not told about them again. The
// nodes are contexts that native frames of this call hold, so they stay put.
constexpr int MAX_TELLING = 32;
node_id telling[MAX_TELLING];
int telling_count = 0;

bool telling_q(node_id key) {
    for (int i = 0; i < telling_count; i++)
        if (telling[i] == key) return true;
    return false;
}

struct telling_scope {
    explicit telling_scope(node_id key) { telling[telling_count++] = key; }
    ~telling_scope() { telling_count--; }
};
}  // namespace

bool check(kiv_value* value, int32_t action, kiv_value* new_value, int32_t index, int32_t part) {
    node_id key = key_of(value);
    if (!key || telling_count == MAX_TELLING) return false;
    kiv_value* owner = owner_of(key);
    if (!owner || !owner->data3) return false;  // no owner, or one without change handlers
    if (telling_q(owner->data1)) return false;
    // The handler runs Kiv code: hand it copies, not cells of the table.
    kiv_value o = owner[0], w = owner[1], v = *value;
    telling_scope scope(o.data1);
    if (fire_on_deep_change) fire_on_deep_change(&o, &w, &v, action, new_value, index, part);
    return true;
}

}  // namespace kiv::ownership
