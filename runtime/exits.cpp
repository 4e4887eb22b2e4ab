// Non-local exits: the call-frame side of errors, break, continue, return,
// exit and throw.
#include "runtime/exits.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv {

void system::native_throw(uint32_t level) {
    sys.pending_exit = level;
    throw kiv_exit{level};
}

namespace stack {

namespace {

// The nearest frame at or below `from` that takes the exit, or null when a
// try/all frame or the bottom comes first.
template <class Takes>
call_frame* find_taker(call_frame* from, Takes takes) {
    for (call_frame* f = from; f >= cbottom; f--) {
        if (takes(f)) return f;
        if (frame_type_of(f) == FT_TRY_ALL) return nullptr;
    }
    return nullptr;
}

// Pops the frames above the found one (restoring function contexts) and
// empties the found frame's own cells: arguments := its base, top := arguments.
void unwind_to(call_frame* found) {
    kiv_value* base = found + 1 < ctop ? bottom + found[1].prev : arguments;
    while (ctop > found + 1) {
        call_frame* f = --ctop;
        if (frame_type_of(f) == FT_FUNCTION && f->fctx) context_values(f->fctx) = f->saved;
    }
    arguments = top = base;
}

// Takes a break, continue, return or exit at the found frame, or raises the
// throw-category error when there is none.
void take_exit(call_frame* found, uint32_t error_id, bool with_value, uint32_t level) {
    if (!found) fire(err::THROW, error_id);
    kiv_value value = *arguments;
    unwind_to(found);
    if (with_value) set_last(&value);
    else *arguments = kiv_value{TYPE_UNSET, 0, 0, 0};
    sys.pending_exit = level;
}

// A named catch frame keeps in `saved` the stack index + 1 of its names
// (0: it takes every throw). It takes a throw whose name is the same symbol,
// case variants included, as the word or one of the words.
bool catch_takes_q(const call_frame* f, const kiv_value* thrown) {
    if (frame_type_of(f) != FT_CATCH) return false;
    if (!f->saved) return true;
    if (!any_word_q(type_of(thrown))) return false;
    const kiv_value* names = bottom + f->saved - 1;
    int32_t s = symbol::resolve(word::symbol_of(thrown));
    if (type_of(names) != TYPE_BLOCK) return symbol::resolve(word::symbol_of(names)) == s;
    for (uint32_t i = names->data1; i < block::length_all(names); i++)
        if (symbol::resolve(word::symbol_of(block::cells(names) + i)) == s) return true;
    return false;
}

}  // namespace

void set_catch_names(const kiv_value* names) { (ctop - 1)->saved = index_of(names) + 1; }

void throw_error(const kiv_value* error) {
    kiv_value e = *error;
    bool caught = false;
    if (ctop > cbottom) {
        kiv_value called = *get_call();
        error::set_where(&e, &called);
        frame_to_error(&e);
        kiv_value* saved_top = top;
        unroll(FT_TRY, false);
        ctop--;
        uint32_t t = frame_type_of(ctop);
        caught = t == FT_TRY || t == FT_TRY_ALL;
        top = saved_top;
    }
    if (!caught) error::report_uncaught(&e);
    push_value(&e);
    system::native_throw(LEVEL_ERROR);
}

void throw_break(bool with_value, bool continue_flag) {
    call_frame* loop = find_taker(ctop - 1, [](call_frame* f) { return frame_type_of(f) == FT_LOOP; });
    take_exit(loop, continue_flag ? err::throw_::continue_ : err::throw_::break_,
              with_value && !continue_flag, continue_flag ? LEVEL_CONTINUE : LEVEL_BREAK);
}

void throw_exit(bool return_flag, bool from_top) {
    call_frame* from = from_top ? ctop - 1 : ctop - 2;
    call_frame* func = find_taker(from, [](call_frame* f) { return (f->header & FRAME_IN_FUNC) != 0; });
    take_exit(func, err::throw_::return_, return_flag, return_flag ? LEVEL_RETURN : LEVEL_EXIT);
}

void throw_throw(uint32_t level) {
    if (!throw_origin) throw_origin = ctop - 1;
    kiv_value value = arguments[0];
    kiv_value name = arguments[1];
    call_frame* c = find_taker(ctop - 1, [&name](call_frame* f) { return catch_takes_q(f, &name); });
    if (!c) fire(err::THROW, err::throw_::throw_, &value);
    unwind_to(c);
    push_value(&value);
    push_value(&name);
    system::native_throw(level);
}

}  // namespace stack

// Ctrl-C halts the command as `halt` does: the word halt-request thrown to
// the console's catch. Where no catch frame waits (the console's own code
// between commands) the request is dropped.
void system::halt_interrupted() {
    interrupt_pending = 0;
    if (!stack::find_taker(stack::ctop - 1, [](call_frame* f) { return frame_type_of(f) == FT_CATCH; })) return;
    stack::mark_native(nullptr);
    word::push(word::load("halt-request"));
    word::push(word::load("console"));
    stack::throw_throw(LEVEL_THROW);
}

}  // namespace kiv
