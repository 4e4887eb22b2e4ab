#pragma once
// The argument stack and the call-frame stack.
//
// Every call receives its arguments in consecutive cells from
// stack::arguments and leaves its result in arguments[0]. Beside the cells
// runs a stack of call frames, one per active call, recording where the
// caller's arguments began, the called word and the function context whose
// values must be restored when the call ends.
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv {

// `prev` is the caller's stack::arguments as a cell index from stack::bottom;
// `saved` is the function context's values word at the time of the call. The
// called word's symbol has a word of its own: symbol ids outgrow 16 bits.
struct call_frame {
    uint32_t header;  // type in bits 24-27 and flags
    uint32_t prev;
    node_id ctx;      // the called word's context
    node_id fctx;     // the function's own context, or 0
    uint32_t saved;
    uint32_t symbol;  // the called word's symbol, 0 for none
};
static_assert(sizeof(call_frame) == 24);

enum frame_type : uint32_t {
    FT_FUNCTION = 1, FT_NATIVE = 2, FT_TRY = 4, FT_TRY_ALL = 5, FT_CATCH = 6,
    FT_EVAL = 7, FT_LOOP = 8, FT_DYN = 9,
};

constexpr uint32_t FRAME_IN_FUNC = 0x10000000;      // return and exit may end here
constexpr uint32_t FRAME_INTERPRETED = 0x80000000;  // called by the interpreter

// Header constants written by the marks (type and flags together).
constexpr uint32_t FRAME_FUNCTION = 0x01000000;
constexpr uint32_t FRAME_NATIVE = 0x02000000;
constexpr uint32_t FRAME_TRY = 0x04000000;
constexpr uint32_t FRAME_TRY_ALL = 0x05000000;
constexpr uint32_t FRAME_CATCH = 0x06000000;
constexpr uint32_t FRAME_EVAL = 0x87000000;
constexpr uint32_t FRAME_LOOP = 0x08000000;
constexpr uint32_t FRAME_DYN = 0x09000000;
constexpr uint32_t FRAME_INTERP_NATIVE = 0x82000000;
constexpr uint32_t FRAME_INTERP_FUNC = 0x81000000;
constexpr uint32_t FRAME_FUNC_BODY = 0x12000000;

inline uint32_t frame_type_of(const call_frame* f) { return (f->header >> 24) & 0xF; }
inline uint32_t frame_symbol(const call_frame* f) { return f->symbol; }

// Context header bit: the context's values live on the argument stack.
constexpr uint32_t CONTEXT_ON_STACK = 0x400000;

namespace stack {

constexpr uint32_t ARGUMENT_CELLS = 20000;
constexpr uint32_t CALL_FRAMES = 12000;
constexpr uint32_t CALL_STACK_CELLS = CALL_FRAMES * sizeof(call_frame) / sizeof(kiv_value);
constexpr uint32_t OVERFLOW_BACKOFF = 5;      // cells freed for the error

extern kiv_value* bottom;
extern kiv_value* top;
extern kiv_value* arguments;
extern kiv_value* end;
extern call_frame* cbottom;
extern call_frame* ctop;
extern call_frame* cend;
extern call_frame* throw_origin;

// Lays both stacks over the buffers of the two given blocks' nodes.
void init(node_id argument_block, node_id call_block);

[[noreturn]] void overflow();
[[noreturn]] void call_overflow();

inline uint32_t index_of(const kiv_value* cell) { return uint32_t(cell - bottom); }

inline void revert(call_frame* saved) { ctop = saved; }
inline kiv_value* reset() { top = arguments; return arguments; }
inline kiv_value* keep() { top = arguments + 1; return arguments; }
inline kiv_value* push() {
    kiv_value* cell = top++;
    if (top >= end) overflow();
    return cell;
}
inline kiv_value* push_value(const kiv_value* v) {
    kiv_value copy = *v;  // v may be the cell that overflow reuses
    kiv_value* cell = push();
    *cell = copy;
    return cell;
}
inline void pop(uint32_t n) { top = uint32_t(top - bottom) > n ? top - n : bottom; }
inline void set_last(const kiv_value* v) { copy_cell(v, arguments); }
inline void set_last_keep(const kiv_value* v) {
    top = arguments + 1;
    copy_cell(v, arguments);
}
inline void pop_into_previous() {
    top--;
    copy_cell(top, top - 1);
}
inline kiv_value* get_top() { return top > bottom ? top - 1 : bottom; }
inline uint32_t top_type() { return type_of(get_top()); }
inline bool top_is_function_q() {
    uint32_t t = top_type();
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}
void keep_error();

// The values word of a context's header cell (see CONTEXT_ON_STACK).
inline uint32_t& context_values(node_id ctx) {
    return reinterpret_cast<kiv_value*>(series::buffer(ctx)->offset)->data2;
}

// Every call pushes and pops a frame: these stay inline.
inline void push_frame(const kiv_value* word, uint32_t header, node_id fctx, uint32_t saved) {
    if (ctop >= cend) call_overflow();
    uint32_t symbol = word ? word->data2 : 0;
    *ctop++ = call_frame{header, index_of(arguments), word ? word->data1 : 0, fctx, saved, symbol};
    arguments = top;
}

// Marks: push a frame for the called word (context and symbol taken from the
// word cell; null for none) and make arguments := top.
inline void mark(const kiv_value* word, uint32_t header) { push_frame(word, header, 0, 0); }
inline void mark_native(const kiv_value* w) { mark(w, FRAME_NATIVE); }
inline void mark_try(const kiv_value* w) { mark(w, FRAME_TRY); }
inline void mark_try_all(const kiv_value* w) { mark(w, FRAME_TRY_ALL); }
inline void mark_catch(const kiv_value* w) { mark(w, FRAME_CATCH); }
inline void mark_loop(const kiv_value* w) { mark(w, FRAME_LOOP); }
inline void mark_eval(const kiv_value* w) { mark(w, FRAME_EVAL); }
inline void mark_dyn(const kiv_value* w) { mark(w, FRAME_DYN); }
inline void mark_interp_native(const kiv_value* w) { mark(w, FRAME_INTERP_NATIVE); }
// An interpreted function call: saves the function context's values word
// like mark_func.
inline void mark_interp_func(const kiv_value* word, node_id fctx) {
    push_frame(word, FRAME_INTERP_FUNC, fctx, fctx ? context_values(fctx) : 0);
}
void mark_func(const kiv_value* word, node_id fctx);
void mark_func_body(const kiv_value* word, node_id fctx);

// Unwinds: pop the top frame.
inline void unwind() {
    call_frame* f = --ctop;
    top = arguments + 1;
    arguments = bottom + f->prev;
}
inline void unwind_last() {
    kiv_value* result = arguments;
    unwind();
    copy_cell(result, arguments);
}
void unwind_func();
void unwind_func_last();
void unwind_drop();
void unwind_func_drop();
void unwind_frame();
void unwind_pop();
// Pops frames down to the nearest one of the type (a try/all frame stops
// every unroll); the found frame stays on the call stack.
void unroll(uint32_t type, bool keep);
void unroll_last(uint32_t type);
inline void unroll_loop(bool keep) { unroll(FT_LOOP, keep); }

// Frame flags and queries.
inline void set_in_func_flag(bool flag) {
    call_frame* f = ctop - 1;
    if (flag) f->header |= FRAME_IN_FUNC;
    else f->header &= ~FRAME_IN_FUNC;
}
inline void set_interpreted_flag() { (ctop - 1)->header |= FRAME_INTERPRETED; }
bool set_parent_in_func_flag();
inline void clear_in_func_flag(call_frame* f) { f->header &= ~FRAME_IN_FUNC; }
void set_frame_symbol(const kiv_value* word);
// The word of the function being executed: the nearest named frame from the
// throw origin or the top, "<not-found>" when there is none. Clears the
// throw origin.
kiv_value* get_call();
// Appends each named frame's word and its argument position, top first.
void collect_calls(kiv_value* block);
// Unless the error's `stack` holds a block, it becomes the current call-frame
// position (the count of frames), which collect_frame_words later reads.
void frame_to_error(const kiv_value* error);
// Appends the words of the named frames among the first `frames`, bottom
// first: every one at a level above 1, else only those of functions.
void collect_frame_words(int32_t level, kiv_value* block, uint32_t frames);
inline call_frame* current_frame() { return ctop - 1; }
bool eval_q(const call_frame* frame, bool single);

// A refinement whose presence is known only at run time: when `value` is
// true the refinement cell at arguments + index is marked used, otherwise
// the `count` argument cells after it become none.
void reset_args(const kiv_value* value, uint32_t index, uint32_t count);

}  // namespace stack
}  // namespace kiv
