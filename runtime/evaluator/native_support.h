#pragma once
// What the natives share: argument access, the loop frame's exit handling,
// word values, and calls of actions from native code.
#include <cstdint>
#include <initializer_list>

#include "runtime/evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/value.h"

namespace kiv::natives {

inline kiv_value* arg(int32_t n) { return stack::arguments + n; }
inline bool used(int32_t ref) { return ref >= 0; }

// The word of a name, for frame names and error arguments.
kiv_value name_word(const char* name);
// The frame name of evaluated blocks and loop bodies.
const kiv_value* body_word();

// Raises `expect-arg`: the running call, the value's datatype and the
// argument's word.
[[noreturn]] void fire_expect(const kiv_value* value, const char* argument);
// Raises `invalid-arg` with the value.
[[noreturn]] void fire_invalid(const kiv_value* value);

// How a body evaluated inside a loop frame ended.
enum body_end {
    BODY_DONE,   // normally or by continue: the loop goes on
    BODY_BREAK,  // by break: the loop frame's result slot holds the loop's result
    BODY_LEAVE,  // by an exit the loop does not take: the native returns at once
};
// Takes a break or continue that reached the loop's frame.
inline body_end take_loop_exit() {
    switch (sys.pending_exit) {
        case LEVEL_NONE:
            return BODY_DONE;
        case LEVEL_CONTINUE:
            sys.pending_exit = LEVEL_NONE;
            return BODY_DONE;
        case LEVEL_BREAK:
            sys.pending_exit = LEVEL_NONE;
            return BODY_BREAK;
        default:
            return BODY_LEAVE;
    }
}
// Evaluates a loop body in the loop frame: its value lands in the frame's
// result slot.
inline body_end run_body(interpreter::loop_body& body) {
    stack::reset();
    body.eval();
    return take_loop_exit();
}

// The count of loop and repeat: an integer!, or a float! truncated.
int32_t count_of(const kiv_value* count);

// True when the word is bound and its context has its values at hand.
bool word_available_q(const kiv_value* word);

// Appends the value of each expression of the block to `out`, new-line
// markers cleared, as reduce/into does. False when an exit is pending.
bool reduce_block(const kiv_value* blk, const kiv_value* out);

// Calls an action's dispatcher on the given arguments in a frame of its own
// and returns its result. `refs` as the dispatcher takes them.
kiv_value call_action(uint32_t slot, std::initializer_list<kiv_value> args,
                      std::initializer_list<int32_t> refs = {});

}  // namespace kiv::natives
