#pragma once
// Contexts: the namespaces behind words. A context is a series of two cells,
// the context cell and the self cell. The context cell holds the kind, the
// node of the hash table whose data block is the words block (entry k is the
// word! of index k), and the values: the node of a values series parallel to
// the words, or, for a context whose values live on the argument stack, the
// index + 1 of the running call's first argument cell (0 while no call runs).
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/value.h"

namespace kiv {

constexpr uint32_t CONTEXT_KIND_SHIFT = 11;
constexpr uint32_t CONTEXT_SELF = 0x1000000;  // belongs to an object
constexpr uint32_t ENTRY_SET = 0x2000;        // an object field set since the last modify
enum context_kind : uint32_t { CTX_GLOBAL = 0, CTX_FUNCTION = 1, CTX_OBJECT = 2 };

namespace _context {

extern node_id global;
constexpr uint32_t GLOBAL_SIZE = 4000;

// The context cell.
inline kiv_value* cell_of(node_id ctx) { return reinterpret_cast<kiv_value*>(series::buffer(ctx)->offset); }
inline kiv_value* self_of(node_id ctx) { return cell_of(ctx) + 1; }
inline uint32_t kind_of(node_id ctx) { return (cell_of(ctx)->header >> CONTEXT_KIND_SHIFT) & 3; }
bool on_stack_q(node_id ctx);
node_id words_block(node_id ctx);  // the node of the words block
uint32_t words_count(node_id ctx);

node_id create(uint32_t size, bool stack, bool self, node_id proto, uint32_t kind);
node_id make_from_block(const kiv_value* blk, bool stack, bool self, uint32_t kind);
int32_t find_word(node_id ctx, int32_t symbol, bool case_insensitive);
int32_t find_word_in(node_id ctx, int32_t symbol, bool case_insensitive, int32_t* index);
int32_t add_word(node_id ctx, const kiv_value* word);
kiv_value* add_value(node_id ctx, const kiv_value* word, const kiv_value* value);
void add_with_value(node_id ctx, const kiv_value* word, const kiv_value* value);
bool collect_set_words(node_id ctx, const kiv_value* blk);
kiv_value* find_value(int32_t symbol, node_id ctx);
node_id clone(kiv_value* value, uint32_t kind);

int32_t bind_word(node_id ctx, kiv_value* word);
kiv_value* bind(kiv_value* blk, node_id ctx, bool self);

// The global context's values, reached at almost every step of evaluation:
// kept at hand while no node has changed its buffer, which spares the
// lookups through the context's nodes.
struct values_cache {
    node_id ctx;
    uint64_t epoch;
    kiv_value* values;
};
extern values_cache global_values;

// The values series of a context that has one (null when there is none),
// noted in the cache for the global context.
kiv_value* heap_values(node_id ctx);

// The global context's values when they are at hand, else null.
inline kiv_value* kept_values(node_id ctx) {
    return ctx == global_values.ctx && global_values.epoch == memory::layout_epoch ? global_values.values : nullptr;
}

// The value cells: on the argument stack from the running call's first
// argument, or the values series (null when there is none to read).
inline kiv_value* values_of(node_id ctx) {
    if (kiv_value* kept = kept_values(ctx)) return kept;
    kiv_value* c = cell_of(ctx);
    if (c->header & CONTEXT_ON_STACK) return c->data2 ? stack::bottom + (c->data2 - 1) : nullptr;
    return heap_values(ctx);
}

kiv_value* set_in(kiv_value* word, const kiv_value* value, node_id ctx, bool notify);
// An object's field set when no change handler is to be told (marked set);
// null, nothing set, when one is.
kiv_value* set_field_quiet(node_id ctx, uint32_t index, const kiv_value* value);
// Sets a bound word whose values are at hand when no object's change
// handler is to be told; null, with nothing set, otherwise.
inline kiv_value* set_quiet(const kiv_value* word, const kiv_value* value) {
    node_id ctx = word->data1;
    int32_t index = int32_t(word->data3);
    if (index < 0) return nullptr;
    if (kiv_value* kept = kept_values(ctx)) {  // the global context: no object to tell
        kept[index] = *value;
        return kept + index;
    }
    if (kind_of(ctx) == CTX_OBJECT) return set_field_quiet(ctx, uint32_t(index), value);
    kiv_value* values = values_of(ctx);
    if (!values) return nullptr;
    values[index] = *value;
    return values + index;
}
// Words are read and set on every step of evaluation: the common case, a
// bound word whose values are at hand and no object to tell, stays inline.
inline kiv_value* set(kiv_value* word, const kiv_value* value) {
    if (kiv_value* slot = set_quiet(word, value)) return slot;
    return set_in(word, value, word->data1, true);
}
kiv_value* get_in(const kiv_value* word, node_id ctx);
inline kiv_value* get(const kiv_value* word) {
    int32_t index = int32_t(word->data3);
    if (index >= 0)
        if (kiv_value* values = values_of(word->data1)) return values + index;
    return get_in(word, word->data1);
}
// The word's value cell, or null when it has none to read now (an unbound
// word, or a function's word while none of its calls runs). Never raises.
inline kiv_value* get_if(const kiv_value* word) {
    int32_t index = int32_t(word->data3);
    if (!word->data1 || index < 0) return nullptr;
    kiv_value* values = values_of(word->data1);
    return values ? values + index : nullptr;
}

void init();        // registers context!
void init_global();  // start-up: the global context

}  // namespace _context

namespace context {
kiv_value* value_ref(node_id ctx, uint32_t index);       // entry k: the word
kiv_value* push_at(node_id ctx, uint32_t index);
kiv_value* heap_value_ref(node_id ctx, uint32_t index);  // value k of the values series
kiv_value* push_local_at(node_id ctx, uint32_t index);
void store_at(node_id ctx, uint32_t index);
void replace_at(node_id ctx, uint32_t index);
// The entry of the symbol in the context, else the global word.
kiv_value* find_or_global(node_id ctx, int32_t symbol);
}  // namespace context

}  // namespace kiv
