#pragma once
// Non-local exits: errors, break, continue, return, exit and throw.
//
// Errors and throw travel as a C++ exception (kiv_exit) from the raising code
// to the native that catches them. break, continue, return and exit are far
// more frequent: they only set the pending exit level, which the evaluator
// checks after each step and which the loop or function that takes the exit
// clears. In both cases the argument and call stacks have already been
// unwound to the taking frame when the raising call returns or throws.
#include <cstdint>

#include "runtime/value.h"

namespace kiv {

enum exit_level : uint32_t {
    LEVEL_NONE = 0,
    LEVEL_ERROR = 0x7FFFFFFF,
    LEVEL_BREAK = 0x7FFFFFFE,
    LEVEL_CONTINUE = 0x7FFFFFFD,
    LEVEL_RETURN = 0x7FFFFFFC,
    LEVEL_EXIT = 0x7FFFFFFB,
    LEVEL_THROW = 0x7FFFFFFA,
};

// The exception of an error or a throw in flight; the error or the thrown
// value waits on the argument stack (see stack::throw_error, throw_throw).
struct kiv_exit {
    uint32_t level;
};

namespace system {
// Records the level as pending and unwinds the native stack to the nearest
// catcher of it.
[[noreturn]] void native_throw(uint32_t level);
}  // namespace system

namespace stack {
// Raises an error: unwinds the call frames to the nearest try (or try/all)
// frame and throws; an error that nothing catches ends the process with
// status -2 after printing it.
[[noreturn]] void throw_error(const kiv_value* error);

// break (continue_flag 0) and continue (1): unwinds to the nearest loop frame
// and sets the pending level. Raises `throw` `break` / `continue` when no loop
// frame lies below the nearest try/all frame.
void throw_break(bool with_value, bool continue_flag);

// return (return_flag 1, the value being arguments[0]) and exit (0): unwinds
// to the nearest frame with the in-function bit. from_top false skips the
// caller's own frame first.
void throw_exit(bool return_flag, bool from_top);

// throw: the value and its name are arguments[0] and arguments[1]; unwinds to
// the nearest catch frame that takes the name, pushes both there and throws
// the given level. With no such frame below the nearest try/all frame, raises
// `throw` `throw` where the throw happened.
[[noreturn]] void throw_throw(uint32_t level);

// A catch frame limited to names: `names` (a word! or a block of words, held
// on the argument stack) is what the frame on top takes.
void set_catch_names(const kiv_value* names);
}  // namespace stack

}  // namespace kiv
