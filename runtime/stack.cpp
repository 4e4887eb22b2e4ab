// The argument stack and the call-frame stack.
#include "runtime/stack.h"

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace kiv::stack {

kiv_value* bottom;
kiv_value* top;
kiv_value* arguments;
kiv_value* end;
call_frame* cbottom;
call_frame* ctop;
call_frame* cend;
call_frame* throw_origin;

void init(node_id argument_block, node_id call_block) {
    series_buffer* a = series::buffer(argument_block);
    bottom = top = arguments = reinterpret_cast<kiv_value*>(data_of(a));
    end = reinterpret_cast<kiv_value*>(end_of(a));
    series_buffer* c = series::buffer(call_block);
    cbottom = ctop = reinterpret_cast<call_frame*>(data_of(c));
    cend = cbottom + c->size / sizeof(call_frame);
    throw_origin = nullptr;
}

// Both overflows leave a few cells free so that the error can be made.
void overflow() {
    top -= OVERFLOW_BACKOFF;
    cycles::reset();
    fire(err::INTERNAL, err::internal::stack_overflow);
}

void call_overflow() {
    top = uint32_t(top - bottom) > OVERFLOW_BACKOFF ? top - OVERFLOW_BACKOFF : bottom;
    cycles::reset();
    fire(err::INTERNAL, err::internal::stack_overflow);
}

void keep_error() {
    kiv_value* last = get_top();
    if (type_of(last) == TYPE_ERROR) copy_cell(last, arguments);
    top = arguments + 1;
}

// Marks ---------------------------------------------------------------------

void mark_func(const kiv_value* word, node_id fctx) {
    push_frame(word, FRAME_FUNCTION, fctx, fctx ? context_values(fctx) : 0);
}

// The body reads its words' values from the cells its caller pushed, which
// start at the current arguments.
void mark_func_body(const kiv_value* word, node_id fctx) {
    uint32_t saved = 0;
    if (fctx) {
        saved = context_values(fctx);
        context_values(fctx) = index_of(arguments) + 1;
    }
    push_frame(word, FRAME_FUNC_BODY, fctx, saved);
}

// Unwinds -------------------------------------------------------------------

static void restore_context(const call_frame* f) {
    if (f->fctx) context_values(f->fctx) = f->saved;
}

static void restore_function(const call_frame* f) {
    if (frame_type_of(f) == FT_FUNCTION) restore_context(f);
}

void unwind_func() {
    unwind();
    restore_context(ctop);
}

void unwind_func_last() {
    kiv_value* result = arguments;
    unwind_func();
    copy_cell(result, arguments);
}

void unwind_drop() {
    call_frame* f = --ctop;
    arguments = bottom + f->prev;
    top = arguments;
}

void unwind_func_drop() {
    unwind_drop();
    restore_context(ctop);
}

void unwind_frame() {
    call_frame* f = --ctop;
    restore_function(f);
    if (ctop == cbottom) {
        arguments = top = bottom;
    } else {
        top = arguments;
        arguments = bottom + f->prev;
    }
}

void unwind_pop() {
    call_frame* f = --ctop;
    restore_function(f);
    pop(1);
    arguments = ctop == cbottom ? bottom : bottom + f->prev;
}

void unroll(uint32_t type, bool keep) {
    call_frame* entry = ctop;
    while (ctop > cbottom) {
        call_frame* f = --ctop;
        restore_function(f);
        uint32_t t = frame_type_of(f);
        if (t == type || t == FT_TRY_ALL) break;
    }
    if (keep) ctop++;
    if (ctop == entry) {
        top = arguments + 1;
    } else if (ctop == cbottom) {
        arguments = top = bottom;
    } else {
        // The frame record at the call top is still intact: with keep it is
        // the frame called by the found one, whose `prev` is the found
        // frame's own base; without, the found frame itself.
        top = arguments + 1;
        arguments = bottom + ctop->prev;
    }
    if (!keep) ctop++;
}

void unroll_last(uint32_t type) {
    kiv_value last = *get_top();
    call_frame* entry = ctop;
    kiv_value* entry_arguments = arguments;
    unroll(type, false);
    // The found frame's base: recorded by the frame it called, or the
    // current base when the found frame was the top one.
    kiv_value* slot = ctop < entry ? bottom + ctop->prev : entry_arguments;
    *slot = last;
    arguments = top = slot;
}

// Flags and queries -----------------------------------------------------------

bool set_parent_in_func_flag() {
    call_frame* f = ctop - 2;
    if (f < cbottom || (f->header & FRAME_IN_FUNC)) return false;
    f->header |= FRAME_IN_FUNC;
    return true;
}

void set_frame_symbol(const kiv_value* word) {
    if (type_of(word) != TYPE_WORD) return;
    call_frame* f = (throw_origin ? throw_origin : ctop) - 1;
    if (f < cbottom) return;
    f->symbol = word->data2;
}

namespace {

int32_t anon_symbol() {
    static int32_t id = symbol::make("<anon>");
    return id;
}
int32_t body_symbol() {
    static int32_t id = symbol::make("<body>");
    return id;
}
bool named_q(const call_frame* f) {
    int32_t s = int32_t(f->symbol);
    return s != 0 && s != anon_symbol() && s != body_symbol();
}

}  // namespace

kiv_value* get_call() {
    call_frame* from = (throw_origin && throw_origin <= ctop ? throw_origin : ctop) - 1;
    throw_origin = nullptr;
    for (call_frame* f = from; f >= cbottom; f--)
        if (named_q(f)) return context::find_or_global(f->ctx, int32_t(f->symbol));
    return word::load("<not-found>");
}

void collect_calls(kiv_value* block) {
    for (call_frame* f = ctop - 1; f > cbottom; f--) {
        if (!named_q(f)) continue;
        node_id ctx = f->fctx ? f->fctx : _context::global;
        kiv_value w{TYPE_WORD, ctx, f->symbol, uint32_t(_context::find_word(ctx, int32_t(f->symbol), true))};
        *block::alloc_tail(block) = w;
        integer::make_at(block::alloc_tail(block), int32_t(f->prev));
    }
}

void frame_to_error(const kiv_value* error) {
    kiv_value* s = error::field(error, error::FIELD_STACK);
    if (type_of(s) != TYPE_BLOCK) integer::make_at(s, int32_t(ctop - cbottom));
}

void collect_frame_words(int32_t level, kiv_value* block, uint32_t frames) {
    uint32_t capacity = uint32_t(cend - cbottom);
    call_frame* last = cbottom + (frames < capacity ? frames : capacity);
    for (call_frame* f = cbottom; f < last; f++) {
        if (!named_q(f)) continue;
        kiv_value w;
        if (f->ctx) w = *context::find_or_global(f->ctx, int32_t(f->symbol));
        else word::make_at(int32_t(f->symbol), &w);
        const kiv_value* value = _context::get_if(&w);
        if (level <= 1 && !(value && type_of(value) == TYPE_FUNCTION)) continue;
        block::append_copy(block, &w);
    }
}

bool eval_q(const call_frame* frame, bool single) {
    const call_frame* f = frame ? frame : ctop - 1;
    if (single) return f >= cbottom && (f->header & FRAME_INTERPRETED);
    for (; f >= cbottom; f--)
        if (f->header & FRAME_INTERPRETED) return true;
    return false;
}

void reset_args(const kiv_value* value, uint32_t index, uint32_t count) {
    kiv_value* ref = arguments + index;
    if (type_of(value) == TYPE_LOGIC && value->data1) {
        ref->data1 = 1;
        return;
    }
    for (uint32_t i = 1; i <= count; i++) ref[i] = kiv_value{TYPE_NONE, 0, 0, 0};
}

}  // namespace kiv::stack
