#pragma once
// The interpreter: a direct walker over the cells of a block. Each
// expression yields one value, pushed on the argument stack (`sub`) or
// written into the current frame's result slot. break, continue, return and
// exit arrive as sys.pending_exit: every step returns at once, touching no
// stack, until the frame that takes the exit clears it.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::interpreter {

extern kiv_value code_position;  // the innermost block position under evaluation
extern kiv_value* tracer;        // the cell holding the tracer function
extern bool tracing_q;
extern bool trace_q;
extern uint32_t event_mask;

enum trace_event : uint32_t {
    EVT_INIT = 1, EVT_END = 2, EVT_PROLOG = 4, EVT_EPILOG = 8, EVT_ENTER = 16, EVT_EXIT = 32,
    EVT_OPEN = 64, EVT_RETURN = 128, EVT_FETCH = 256, EVT_PUSH = 512, EVT_SET = 1024,
    EVT_CALL = 2048, EVT_ERROR = 4096, EVT_THROW = 8192, EVT_CATCH = 16384, EVT_EXPR = 32768,
};

// Callback kinds that runtime callbacks into Kiv functions name.
enum callback_bit : uint32_t {
    CB_NONE = 0, CB_LEXER = 1, CB_PARSE = 2, CB_SORT = 4, CB_CHANGE = 8, CB_DEEP = 16, CB_PORT = 32,
};

void init();

// Evaluates the whole block; the result is the last value (unset! for an
// empty block). With `chain` the result is also copied into the caller's
// result slot.
void eval(const kiv_value* block, bool chain);
// Evaluates one expression at `pos`; returns the position after it.
kiv_value* eval_next(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix, bool sub,
                     bool passive);
kiv_value* eval_next_keep(const kiv_value* code, kiv_value* pos, kiv_value* end, bool sub);
// The one expression at the block's index; returns the new index.
uint32_t eval_single(const kiv_value* block);

// Calls a callable found at a position; returns the position after its
// arguments. `flags`: 0 plain, apply modes 1 (/all), 2 (refinements named
// in the block), plus 4 (/safer).
kiv_value* eval_code(const kiv_value* callable, kiv_value* pos, kiv_value* end, const kiv_value* code,
                     bool sub, const kiv_value* path, const kiv_value* name, const kiv_value* object,
                     uint32_t flags, bool infix);
// Calls a function! whose argument frame is complete.
void call_function(const kiv_value* fn, node_id ctx, const kiv_value* name, uint32_t callback);
// The node of a callable's argument list, built on first use.
node_id preprocess_spec(const kiv_value* callable);

// Evaluates a path (set: the value is arguments[0]); returns the position
// after any arguments a called function consumed.
kiv_value* eval_path(const kiv_value* path, kiv_value* pos, kiv_value* end, const kiv_value* code,
                     bool set, bool get, bool sub);

// Delivers a trace event to the tracer when its bit is in the mask.
void fire_event(uint32_t event, const kiv_value* code, const kiv_value* pos, const kiv_value* ref,
                const kiv_value* value);
uint32_t event_mask_of(const kiv_value* fn);

// True when an exit (break, continue, return, exit) is in flight.
bool exit_pending_q();

}  // namespace kiv::interpreter
