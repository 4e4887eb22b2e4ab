#pragma once
// The interpreter: a direct walker over the cells of a block. Each
// expression yields one value, pushed on the argument stack (`sub`) or
// written into the current frame's result slot. break, continue, return and
// exit arrive as sys.pending_exit: every step returns at once, touching no
// stack, until the frame that takes the exit clears it.
#include <cstdint>

#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/value.h"

namespace kiv::interpreter {

extern kiv_value code_position;  // the innermost block position under evaluation
extern kiv_value* tracer;        // the cell holding the tracer function
extern bool tracing_q;
// Tracing is rare: tests of it keep the event code off the hot paths.
inline bool tracing() { return __builtin_expect(tracing_q, false); }
extern bool trace_q;
// Counts explicit switches of tracing_q: a function call puts the flag back
// on return only when its body made no explicit switch.
extern uint32_t tracing_switches;
void switch_tracing(bool on);
extern uint32_t event_mask;
// The names of the runtime's own frames: evaluated blocks and parens, and
// calls whose callable was not named by a word.
extern kiv_value body_name;
extern kiv_value anon_name;

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

// A loop's body, evaluated pass after pass in the loop's frame as
// eval(body, true) does it. The caller's code position is read once for the
// whole loop and put back after each pass, and when the loop is left by an
// error.
class loop_body {
  public:
    explicit loop_body(const kiv_value* body);
    ~loop_body() { code_position = caller_; }
    loop_body(const loop_body&) = delete;
    loop_body& operator=(const loop_body&) = delete;
    void eval();

  private:
    kiv_value body_;
    kiv_value position_;  // the code position of the body's statements
    kiv_value caller_;
};
// Evaluates one expression at `pos` (before `end`); returns the position
// after it.
kiv_value* eval_expression(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix, bool sub,
                           bool passive);

// Datatypes whose cells are literals: everything the walker does not treat
// apart (words, paths, parens, callables, issues).
constexpr uint64_t type_bit(uint32_t t) { return uint64_t(1) << t; }
constexpr uint64_t ACTIVE_TYPES =
    type_bit(TYPE_PAREN) | type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) | type_bit(TYPE_LIT_WORD) |
    type_bit(TYPE_GET_WORD) | type_bit(TYPE_ISSUE) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) |
    type_bit(TYPE_OP) | type_bit(TYPE_FUNCTION) | type_bit(TYPE_PATH) | type_bit(TYPE_LIT_PATH) |
    type_bit(TYPE_SET_PATH) | type_bit(TYPE_GET_PATH) | type_bit(TYPE_ROUTINE);
static_assert(TYPE_COUNT <= 64);
inline bool literal_q(uint32_t t) { return t < TYPE_COUNT && !(ACTIVE_TYPES & type_bit(t)); }

// The expression's value: pushed, or written into the frame's result slot.
inline void put_result(const kiv_value* v, bool sub) {
    if (sub) stack::push_value(v);
    else copy_cell(v, stack::arguments);
}

// Most expressions are a single literal (an argument, a constant): that
// case is taken here unless an operator may follow or events are traced.
inline kiv_value* eval_next(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix, bool sub,
                            bool passive) {
    if (!tracing() && literal_q(type_of(pos)) && (infix || pos + 1 >= end || type_of(pos + 1) != TYPE_WORD)) {
        put_result(pos, sub);
        return pos + 1;
    }
    return eval_expression(pos, end, code, infix, sub, passive);
}

kiv_value* eval_next_keep(const kiv_value* code, kiv_value* pos, kiv_value* end, bool sub);
// The one expression at the block's index; returns the new index.
uint32_t eval_single(const kiv_value* block);

// Calls a callable found at a position; returns the position after its
// arguments. `flags`: 0 plain, apply modes 1 (/all), 2 (refinements named
// in the block), plus 4 (/safer). An op! is called as the callable it
// wraps (with `infix`, its left operand already on the stack).
kiv_value* eval_code(const kiv_value* callable, kiv_value* pos, kiv_value* end, const kiv_value* code,
                     bool sub, const kiv_value* path, const kiv_value* name, const kiv_value* object,
                     uint32_t flags, bool infix);
// eval_code for a callable named by a path's head word (`name`), its
// result pushed.
kiv_value* call_path(const kiv_value* callable, kiv_value* pos, kiv_value* end, const kiv_value* code,
                     const kiv_value* path, const kiv_value* name);
// eval_code for a callable (not an op!) named by the word at pos - 1, with
// no path, apply mode or infix operand.
kiv_value* call_word(const kiv_value* callable, kiv_value* pos, kiv_value* end, const kiv_value* code, bool sub,
                     const kiv_value* word);
// Calls a function! whose argument frame is complete.
void call_function(const kiv_value* fn, node_id ctx, const kiv_value* name, uint32_t callback);

// Runs a routine! on the arguments already in the current frame (a stand-in
// handing its call on), checking their types against its spec first.
void hand_on_routine(const kiv_value* routine, const kiv_value* name);

// Calls a Kiv function from the runtime (the lexer's and PARSE's trace
// callbacks): the `count` given values fill its arguments in spec order
// (arguments past them get none, refinements are off) and the stacks come
// back as they were; the result is the function's value. When the call
// leaves an exit pending, the stacks are left for that exit to unwind. With
// `moved`, it receives argument `moved_index` as the function left it.
struct callback_call {
    const kiv_value* fn;
    const kiv_value* name;
    const kiv_value* args;
    uint32_t count;
    uint32_t callback_bit;
    uint32_t moved_index = 0;
    kiv_value* moved = nullptr;
    // The values also fill the refinements (each its flag, then its
    // arguments), up to /local.
    bool refinements_given = false;
};
kiv_value call_back(const callback_call& c);
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
inline bool exit_pending_q() { return sys.pending_exit != LEVEL_NONE; }

}  // namespace kiv::interpreter
