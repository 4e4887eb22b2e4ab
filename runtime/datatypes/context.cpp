// Contexts.
#include "runtime/datatypes/context.h"

#include <vector>

#include "runtime/cycles.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"

namespace kiv {

namespace _context {

node_id global = 0;
values_cache global_values{0, 0, nullptr};

kiv_value* heap_values(node_id ctx) {
    node_id values = cell_of(ctx)->data2;
    if (!values) return nullptr;
    auto* cells = reinterpret_cast<kiv_value*>(series::buffer(values)->offset);
    if (ctx == global) global_values = values_cache{ctx, memory::layout_epoch, cells};
    return cells;
}

bool on_stack_q(node_id ctx) { return (cell_of(ctx)->header & CONTEXT_ON_STACK) != 0; }
static node_id table_of(node_id ctx) { return cell_of(ctx)->data1; }
node_id words_block(node_id ctx) { return hashtable::record(table_of(ctx))->blk; }
uint32_t words_count(node_id ctx) { return series::used_units(series::buffer(words_block(ctx))); }

static kiv_value* words_of(node_id ctx) {
    return reinterpret_cast<kiv_value*>(series::buffer(words_block(ctx))->offset);
}

node_id create(uint32_t size, bool stack, bool self, node_id proto, uint32_t kind) {
    if (size == 0) size = 1;
    node_id ctx = memory::alloc_cells(2);
    series_buffer* b = series::buffer(ctx);
    auto* cells = reinterpret_cast<kiv_value*>(b->offset);
    cells[0] = cells[1] = kiv_value{TYPE_UNSET, 0, 0, 0};
    b->tail = b->offset + 2 * sizeof(kiv_value);
    node_id table;
    if (proto) {
        node_id words = memory::copy_series(series::buffer(words_block(proto)));
        table = hashtable::copy_content(table_of(proto), words);
    } else {
        table = hashtable::init(size, nullptr, hashtable::KIND_SYMBOLS, 0);
    }
    node_id values = stack ? 0 : memory::alloc_cells(size);
    uint32_t header = TYPE_CONTEXT | (kind << CONTEXT_KIND_SHIFT) | (stack ? CONTEXT_ON_STACK : 0) |
                      (self ? CONTEXT_SELF : 0);
    *cell_of(ctx) = kiv_value{header, table, values, 0};
    return ctx;
}

int32_t find_word(node_id ctx, int32_t symbol, bool case_insensitive) {
    int32_t index;
    return hashtable::insert_at(table_of(ctx), uint32_t(symbol), 0, case_insensitive, &index) >= 0 ? index : -1;
}

int32_t find_word_in(node_id ctx, int32_t symbol, bool case_insensitive, int32_t* index) {
    return hashtable::insert_at(table_of(ctx), uint32_t(symbol), ctx, case_insensitive, index);
}

int32_t add_word(node_id ctx, const kiv_value* word) {
    int32_t index;
    if (find_word_in(ctx, int32_t(word->data2), true, &index) < 0 && !on_stack_q(ctx)) {
        node_id values = cell_of(ctx)->data2;
        *series::alloc_tail_cell(series::buffer(values)) = kiv_value{TYPE_UNSET, 0, 0, 0};
    }
    return index;
}

kiv_value* add_value(node_id ctx, const kiv_value* word, const kiv_value* value) {
    if (find_word(ctx, int32_t(word->data2), true) >= 0) return nullptr;
    kiv_value v = *value;
    int32_t index = add_word(ctx, word);
    kiv_value* slot = values_of(ctx) + index;
    *slot = v;
    return slot;
}

void add_with_value(node_id ctx, const kiv_value* word, const kiv_value* value) {
    kiv_value v = *value;
    int32_t index = add_word(ctx, word);
    values_of(ctx)[index] = v;
}

node_id make_from_block(const kiv_value* blk, bool stack, bool self, uint32_t kind) {
    series_buffer* b = series::buffer(blk->data2);
    uint32_t length = series::used_units(b);
    uint32_t head = blk->data1 < length ? blk->data1 : length;
    node_id ctx = create(length - head, stack, self, 0, kind);
    for (uint32_t i = head; i < length; i++) {
        kiv_value cell = reinterpret_cast<kiv_value*>(series::buffer(blk->data2)->offset)[i];
        uint32_t t = type_of(&cell);
        if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT)
            add_word(ctx, &cell);
    }
    return ctx;
}

bool collect_set_words(node_id ctx, const kiv_value* blk) {
    uint32_t before = words_count(ctx);
    uint32_t length = series::used_units(series::buffer(blk->data2));
    for (uint32_t i = blk->data1; i < length; i++) {
        kiv_value cell = reinterpret_cast<kiv_value*>(series::buffer(blk->data2)->offset)[i];
        if (type_of(&cell) == TYPE_SET_WORD) add_word(ctx, &cell);
    }
    return words_count(ctx) > before;
}

kiv_value* find_value(int32_t symbol, node_id ctx) {
    if (on_stack_q(ctx)) ctx = global;
    int32_t index = find_word(ctx, symbol, true);
    return values_of(ctx) + index;
}

node_id clone(kiv_value* value, uint32_t kind) {
    node_id old = value->data1;
    kiv_value* c = cell_of(old);
    bool stack = (c->header & CONTEXT_ON_STACK) != 0, self = (c->header & CONTEXT_SELF) != 0;
    node_id ctx = create(words_count(old), stack, self, old, kind);
    uint32_t n = words_count(ctx);
    kiv_value* words = words_of(ctx);
    for (uint32_t i = 0; i < n; i++) words[i].data1 = ctx;
    value->data1 = ctx;
    return ctx;
}

// Binding -------------------------------------------------------------------------

int32_t bind_word(node_id ctx, kiv_value* word) {
    int32_t index = find_word(ctx, int32_t(word->data2), true);
    if (index < 0) return -1;
    word->data1 = ctx;
    word->data3 = uint32_t(index);
    return index;
}

static int32_t self_symbol() {
    static int32_t id = symbol::make("self");
    return id;
}

namespace {

// Binding a body looks up each of its words. For a context of few words a
// table by resolved symbol id, filled for one bind and emptied after,
// answers at once where the hash table would probe.
constexpr uint32_t TABLE_BIND_MAX = 64;
std::vector<int32_t> slot_by_symbol;  // 1 + the word's index, 0 when not in the context
bool slot_table_busy = false;

struct slot_table {
    node_id ctx;
    uint32_t count;
    slot_table(node_id c, uint32_t n) : ctx(c), count(n) {
        slot_table_busy = true;
        if (slot_by_symbol.size() <= symbol::count()) slot_by_symbol.resize(symbol::count() + 256, 0);
        kiv_value* words = words_of(ctx);
        for (uint32_t i = count; i-- > 0;) slot_by_symbol[size_t(symbol::resolve(int32_t(words[i].data2)))] = int32_t(i + 1);
    }
    ~slot_table() {
        kiv_value* words = words_of(ctx);
        for (uint32_t i = 0; i < count; i++) slot_by_symbol[size_t(symbol::resolve(int32_t(words[i].data2)))] = 0;
        slot_table_busy = false;
    }
    int32_t find(int32_t symbol) const { return slot_by_symbol[size_t(symbol::resolve(symbol))] - 1; }
};

// `self_word`: the symbol of `self` when it names the context, else -1.
void bind_cells(const kiv_value* blk, node_id ctx, int32_t self_word, const slot_table* table) {
    node_id series = blk->data2;
    if (cycles::find_q(series)) return;
    cycles::push(series);
    // Binding allocates nothing, so the block keeps its buffer throughout.
    series_buffer* b = series::buffer(series);
    kiv_value* end = reinterpret_cast<kiv_value*>(b->tail);
    for (kiv_value* cell = reinterpret_cast<kiv_value*>(b->offset) + blk->data1; cell < end; cell++) {
        switch (type_of(cell)) {
            case TYPE_WORD:
                if (int32_t(cell->data2) == self_word) {
                    cell->data1 = ctx;
                    cell->data3 = uint32_t(-1);
                    break;
                }
                [[fallthrough]];
            case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
                if (table) {
                    int32_t index = table->find(int32_t(cell->data2));
                    if (index >= 0) {
                        cell->data1 = ctx;
                        cell->data3 = uint32_t(index);
                    }
                } else {
                    bind_word(ctx, cell);
                }
                break;
            case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
            case TYPE_GET_PATH: case TYPE_HASH:
                bind_cells(cell, ctx, self_word, table);
                break;
            default:
                break;
        }
    }
    cycles::pop();
}

}  // namespace

kiv_value* bind(kiv_value* blk, node_id ctx, bool self) {
    uint32_t count = words_count(ctx);
    int32_t self_word = self ? self_symbol() : -1;
    if (count > TABLE_BIND_MAX || slot_table_busy) {
        bind_cells(blk, ctx, self_word, nullptr);
    } else {
        slot_table table(ctx, count);
        bind_cells(blk, ctx, self_word, &table);
    }
    return blk;
}

// Values --------------------------------------------------------------------------

kiv_value* set_in(kiv_value* word, const kiv_value* value, node_id ctx, bool notify) {
    kiv_value v = *value;
    int32_t index = int32_t(word->data3);
    if (index < 0) {
        index = find_word(ctx, int32_t(word->data2), false);
        if (index < 0) index = add_word(ctx, word);
        word->data3 = uint32_t(index);
    }
    kiv_value* values = values_of(ctx);
    if (!values) fire(err::SCRIPT, err::script::not_defined, word);
    kiv_value* slot = values_of(ctx) + index;
    if (kind_of(ctx) != CTX_OBJECT) {
        *slot = v;
        return slot;
    }
    // An object marks the fields set and tells its change handler.
    words_of(ctx)[index].header |= ENTRY_SET;
    kiv_value self = *self_of(ctx);
    kiv_value old = *slot;
    *slot = v;
    if (notify && type_of(&self) == TYPE_OBJECT && self.data3) object::fire_on_change(&self, word, &old, &v);
    return values_of(ctx) + index;
}

kiv_value* set_field_quiet(node_id ctx, uint32_t index, const kiv_value* value) {
    const kiv_value* self = self_of(ctx);
    if (type_of(self) == TYPE_OBJECT && self->data3) return nullptr;
    kiv_value* values = values_of(ctx);
    if (!values) return nullptr;
    words_of(ctx)[index].header |= ENTRY_SET;
    values[index] = *value;
    return values + index;
}

kiv_value* get_in(const kiv_value* word, node_id ctx) {
    int32_t index = int32_t(word->data3);
    if (index < 0) {
        if (int32_t(word->data2) == self_symbol()) return self_of(ctx);
        fire(err::SCRIPT, err::script::no_value, word);
    }
    kiv_value* values = values_of(ctx);
    if (!values) fire(err::SCRIPT, err::script::not_in_context, word);
    return values + index;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_CONTEXT, 0, "context!", {
        UNSUPPORTED,  // make
        UNSUPPORTED,  // random
        UNSUPPORTED,  // reflect
        UNSUPPORTED,  // to
        UNSUPPORTED,  // form
        UNSUPPORTED,  // mold
        UNSUPPORTED,  // eval-path
        UNSUPPORTED,  // (empty)
        UNSUPPORTED,  // compare
        UNSUPPORTED,  // absolute
        UNSUPPORTED,  // add
        UNSUPPORTED,  // divide
        UNSUPPORTED,  // multiply
        UNSUPPORTED,  // negate
        UNSUPPORTED,  // power
        UNSUPPORTED,  // remainder
        UNSUPPORTED,  // round
        UNSUPPORTED,  // subtract
        UNSUPPORTED,  // even?
        UNSUPPORTED,  // odd?
        UNSUPPORTED,  // and~
        UNSUPPORTED,  // complement
        UNSUPPORTED,  // or~
        UNSUPPORTED,  // xor~
        UNSUPPORTED,  // append
        UNSUPPORTED,  // at
        UNSUPPORTED,  // back
        UNSUPPORTED,  // change
        UNSUPPORTED,  // clear
        UNSUPPORTED,  // copy
        UNSUPPORTED,  // find
        UNSUPPORTED,  // head
        UNSUPPORTED,  // head?
        UNSUPPORTED,  // index?
        UNSUPPORTED,  // insert
        UNSUPPORTED,  // length?
        UNSUPPORTED,  // move
        UNSUPPORTED,  // next
        UNSUPPORTED,  // pick
        UNSUPPORTED,  // poke
        UNSUPPORTED,  // put
        UNSUPPORTED,  // remove
        UNSUPPORTED,  // reverse
        UNSUPPORTED,  // select
        UNSUPPORTED,  // sort
        UNSUPPORTED,  // skip
        UNSUPPORTED,  // swap
        UNSUPPORTED,  // tail
        UNSUPPORTED,  // tail?
        UNSUPPORTED,  // take
        UNSUPPORTED,  // trim
        UNSUPPORTED,  // create
        UNSUPPORTED,  // close
        UNSUPPORTED,  // delete
        UNSUPPORTED,  // modify
        UNSUPPORTED,  // open
        UNSUPPORTED,  // open?
        UNSUPPORTED,  // query
        UNSUPPORTED,  // read
        UNSUPPORTED,  // rename
        UNSUPPORTED,  // update
        UNSUPPORTED,  // write
    });
}

void init_global() {
    global = create(GLOBAL_SIZE, false, false, 0, CTX_GLOBAL);
    kiv_value keep{TYPE_CONTEXT, global, 0, 0};
    *block::alloc_tail(&runtime::root) = keep;
}

}  // namespace _context

namespace context {

kiv_value* value_ref(node_id ctx, uint32_t index) { return _context::words_of(ctx) + index; }

kiv_value* push_at(node_id ctx, uint32_t index) { return stack::push_value(value_ref(ctx, index)); }

kiv_value* heap_value_ref(node_id ctx, uint32_t index) {
    return reinterpret_cast<kiv_value*>(series::buffer(_context::cell_of(ctx)->data2)->offset) + index;
}

kiv_value* push_local_at(node_id ctx, uint32_t index) {
    kiv_value* values = _context::values_of(ctx);
    if (!values) fire(err::SCRIPT, err::script::not_defined, value_ref(ctx, index));
    return stack::push_value(values + index);
}

void store_at(node_id ctx, uint32_t index) {
    if (_context::kind_of(ctx) == CTX_OBJECT) value_ref(ctx, index)->header |= ENTRY_SET;
    copy_cell(stack::get_top(), heap_value_ref(ctx, index));
}

void replace_at(node_id ctx, uint32_t index) {
    kiv_value old = *heap_value_ref(ctx, index);
    kiv_value last = *stack::get_top();
    stack::push_value(&old);
    if (_context::kind_of(ctx) == CTX_OBJECT) value_ref(ctx, index)->header |= ENTRY_SET;
    *heap_value_ref(ctx, index) = last;
}

kiv_value* find_or_global(node_id ctx, int32_t symbol) {
    int32_t index = _context::find_word(ctx, symbol, false);
    if (index >= 0) return value_ref(ctx, uint32_t(index));
    return word::from_symbol(symbol);
}

}  // namespace context
}  // namespace kiv
