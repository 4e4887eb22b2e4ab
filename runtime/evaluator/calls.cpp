// Function calls: argument lists, argument collection and the calls of the
// four kinds of callables.
#include <array>
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::interpreter {

namespace {

// Argument kinds, in bits 20-21 of an argument typeset's header.
enum arg_kind : uint32_t { ARG_EVAL = 0, ARG_GET = 1, ARG_LIT = 2, ARG_RETURN = 3 };
constexpr uint32_t KIND_SHIFT = 20;
constexpr uint32_t MAX_REFINEMENTS = 64;

uint32_t kind_of(const kiv_value* ts) { return (ts->header >> KIND_SHIFT) & 3; }

kiv_value* aux_cell(const kiv_value* callable, uint32_t cell) {
    return reinterpret_cast<kiv_value*>(series::buffer(callable->data3)->offset) + cell;
}

uint32_t base_type(const kiv_value* callable) {
    uint32_t t = type_of(callable);
    return t == TYPE_OP ? op_wrapped_type(callable) : t;
}

bool is_function(const kiv_value* c) { return base_type(c) == TYPE_FUNCTION || base_type(c) == TYPE_ROUTINE; }

// Appends the typeset of an argument: its type block's types, or every type
// but unset! without one.
void add_argument(kiv_value* list, uint32_t kind, const kiv_value* types) {
    kiv_value* ts = types && block::ks_length_q(types) > 0 ? typeset::make_from_block(list, types)
                                                            : typeset::make_default_in(list);
    ts->header |= kind << KIND_SHIFT;
}

int32_t resolved(const char* name) { return symbol::resolve(symbol::make(name)); }

}  // namespace

node_id preprocess_spec(const kiv_value* callable) {
    kiv_value spec{TYPE_BLOCK, 0, callable->data2, 0};
    bool fn = is_function(callable);
    // Built off the stack: an operator's left operand waits just above it.
    kiv_value list_cell{TYPE_UNSET, 0, 0, 0};
    kiv_value* list = block::make_at(&list_cell, int32_t(block::length_all(&spec)) + 1);
    int32_t refinements = 0, locals = 0;
    int32_t local = resolved("local"), return_ = resolved("return");
    uint32_t length = block::length_all(&spec);
    for (uint32_t i = 0; i < length; i++) {
        kiv_value v = block::cells(&spec)[i];
        kiv_value* next = i + 1 < length ? block::cells(&spec) + i + 1 : nullptr;
        const kiv_value* types = next && type_of(next) == TYPE_BLOCK ? next : nullptr;
        kiv_value types_copy = types ? *types : none_value;
        switch (type_of(&v)) {
            case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: {
                uint32_t kind = type_of(&v) == TYPE_WORD ? ARG_EVAL : type_of(&v) == TYPE_GET_WORD ? ARG_GET : ARG_LIT;
                add_argument(list, kind, types ? &types_copy : nullptr);
                break;
            }
            case TYPE_REFINEMENT:
                if (symbol::resolve(word::symbol_of(&v)) == local) {
                    locals = 1;
                    for (uint32_t k = i + 1; k < length; k++) {
                        uint32_t t = type_of(block::cells(&spec) + k);
                        if (t == TYPE_SET_WORD) break;
                        if (t == TYPE_WORD) locals++;
                    }
                    i = length;  // the words after /local are locals, not arguments
                    break;
                }
                refinements++;
                if (!fn) v.data3 = uint32_t(refinements);
                *block::alloc_tail(list) = v;
                break;
            case TYPE_SET_WORD: {
                if (symbol::resolve(word::symbol_of(&v)) != return_) fire(err::SCRIPT, err::script::bad_func_def, &v);
                add_argument(list, ARG_RETURN, nullptr);
                break;
            }
            default:
                break;
        }
    }
    if (fn && locals) integer::make_in(list, locals);
    if (!fn && refinements) integer::make_in(list, refinements);
    return list->data2;
}

namespace {

struct call_state {
    const kiv_value* callable;
    const kiv_value* code;
    const kiv_value* name;
    kiv_value* end;
    bool infix;
    uint32_t flags;
};

// apply modes: every argument and refinement state given in order (/all),
// refinements named in the block, and arguments of one cell each (/safer).
constexpr uint32_t APPLY_ALL = 1, APPLY_NAMED = 2, APPLY_SAFER = 4;

// Where an argument's expression must end: /safer keeps it to one cell.
kiv_value* argument_end(const call_state& c, kiv_value* pos) {
    return (c.flags & APPLY_SAFER) && pos + 1 < c.end ? pos + 1 : c.end;
}

// Evaluates the next expression of an apply block onto the stack.
kiv_value* fetch_state(const call_state& c, kiv_value* pos) {
    return eval_next(pos, argument_end(c, pos), c.code, false, true, false);
}

// The word of an argument for error messages: the n-th argument word of the
// spec, counting as the argument list does.
kiv_value argument_word(const kiv_value* callable, uint32_t list_index) {
    kiv_value spec{TYPE_BLOCK, 0, callable->data2, 0};
    uint32_t seen = 0;
    for (uint32_t i = 0; i < block::length_all(&spec); i++) {
        kiv_value v = block::cells(&spec)[i];
        uint32_t t = type_of(&v);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT || t == TYPE_SET_WORD) {
            if (seen++ == list_index) return v;
        }
    }
    return none_value;
}

kiv_value call_name(const call_state& c) { return c.name ? *c.name : *word::load("<anon>"); }

// Fetches one argument onto the stack; returns the next position.
kiv_value* fetch_one(const call_state& c, const kiv_value* ts, uint32_t list_index, kiv_value* pos) {
    uint32_t kind = kind_of(ts);
    if (pos >= c.end) {
        if (kind == ARG_LIT && typeset::has_q(ts, TYPE_UNSET)) {
            stack::push_value(&unset_value);
            return pos;
        }
        if (c.flags) {
            stack::push_value(&none_value);
            return pos;
        }
        kiv_value name = call_name(c), arg = argument_word(c.callable, list_index);
        fire(err::SCRIPT, err::script::no_arg, &name, &arg);
    }
    switch (kind) {
        case ARG_EVAL:
            return eval_next(pos, argument_end(c, pos), c.code, c.infix, true, false);
        case ARG_GET:
            stack::push_value(pos);
            return pos + 1;
        default: {
            kiv_value cell = *pos;
            if (type_of(&cell) == TYPE_PAREN) {
                stack::mark_native(word::load("<anon>"));
                eval(&cell, true);
                if (exit_pending_q()) return pos;
                stack::unwind();
            } else if (type_of(&cell) == TYPE_GET_WORD) {
                stack::push_value(_context::get(&cell));
            } else if (type_of(&cell) == TYPE_GET_PATH) {
                kiv_value* after = eval_path(&cell, pos + 1, c.end, c.code, false, true, true);
                (void)after;
            } else {
                stack::push_value(&cell);
            }
            return pos + 1;
        }
    }
}

void check_type(const call_state& c, const kiv_value* ts, uint32_t list_index, const kiv_value* value) {
    if (typeset::has_q(ts, type_of(value))) return;
    kiv_value name = call_name(c), arg = argument_word(c.callable, list_index);
    kiv_value dt;
    datatype::make_at(&dt, type_of(value));
    fire(err::SCRIPT, err::script::expect_arg, &name, &dt, &arg);
}

// The list position of a refinement named by a word, or -1.
int64_t find_refinement(const kiv_value* list, int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    for (uint32_t i = 0; i < block::length_all(list); i++) {
        kiv_value* item = block::cells(list) + i;
        if (type_of(item) == TYPE_REFINEMENT && symbol::resolve(word::symbol_of(item)) == s) return i;
    }
    return -1;
}

// The context slot of each list item: typesets (but return:) and
// refinements take one slot each, in order.
uint32_t slot_of(const kiv_value* list, uint32_t index) {
    uint32_t slot = 0;
    for (uint32_t i = 0; i < index; i++) {
        kiv_value* item = block::cells(list) + i;
        if (type_of(item) == TYPE_REFINEMENT || (type_of(item) == TYPE_TYPESET && kind_of(item) != ARG_RETURN))
            slot++;
    }
    return slot;
}

}  // namespace

kiv_value* fetch_args(const kiv_value* callable, kiv_value* pos, kiv_value* end, const kiv_value* code,
                      const kiv_value* path, const kiv_value* name, uint32_t flags, bool infix) {
    kiv_value* cache = aux_cell(callable, 1);
    if (type_of(cache) != TYPE_BLOCK) {
        node_id n = preprocess_spec(callable);
        *aux_cell(callable, 1) = kiv_value{TYPE_BLOCK, 0, n, 0};
    }
    kiv_value list = *aux_cell(callable, 1);
    bool fn = is_function(callable);
    std::array<int32_t, MAX_REFINEMENTS> refs;
    refs.fill(-1);
    call_state c{callable, code, name, end, infix, flags};
    int32_t count = 0, locals = 0;
    bool collecting = true, any_refinement = false;
    uint32_t length = block::length_all(&list);
    for (uint32_t i = 0; i < length; i++) {
        kiv_value item = block::cells(&list)[i];
        switch (type_of(&item)) {
            case TYPE_TYPESET:
                if (kind_of(&item) == ARG_RETURN) break;
                if (!collecting) {
                    if (fn) stack::push_value(&none_value);
                    if (flags == APPLY_ALL && !path) {
                        pos = fetch_one(c, &item, i, pos);
                        if (exit_pending_q()) return pos;
                        stack::pop(1);
                    }
                    break;
                }
                if (infix && count == 0) {
                    stack::top++;  // the left operand is already there
                } else {
                    pos = fetch_one(c, &item, i, pos);
                    if (exit_pending_q()) return pos;
                }
                check_type(c, &item, i, stack::top - 1);
                count++;
                break;
            case TYPE_REFINEMENT:
                any_refinement = true;
                collecting = false;
                if ((flags & 3) == APPLY_ALL && !path && pos < end) {
                    // The block gives the refinement's state as a logic!,
                    // which stays as a function's refinement slot.
                    pos = fetch_state(c, pos);
                    if (exit_pending_q()) return pos;
                    kiv_value state = *(stack::top - 1);
                    if (type_of(&state) != TYPE_LOGIC) {
                        kiv_value n = call_name(c), dt;
                        datatype::make_at(&dt, type_of(&state));
                        fire(err::SCRIPT, err::script::expect_arg, &n, &dt, &item);
                    }
                    collecting = logic::get(&state);
                    if (fn) break;
                    stack::pop(1);
                    if (collecting) refs[item.data3 - 1] = count;
                    break;
                }
                if (fn) stack::push_value(&false_value);
                break;
            case TYPE_INTEGER:
                locals = integer::get_value(&item);
                break;
            default:
                break;
        }
    }
    // Refinements named by the path after the callable's own element, or,
    // for apply, by the rest of the argument block.
    bool named = (flags & 3) == APPLY_NAMED && !path;
    if (path || named) {
        kiv_value p = path ? *path : none_value;
        uint32_t plen = path ? block::length_all(&p) : 0;
        uint32_t e = path ? p.data1 : 0;
        // The element that named the callable: the first word of the path
        // unless the callable came through an object.
        for (uint32_t k = e; k < plen; k++) {
            kiv_value* at = block::cells(&p) + k;
            if (type_of(at) == TYPE_WORD && name && word::symbol_of(at) == word::symbol_of(name)) {
                e = k + 1;
                break;
            }
        }
        for (;;) {
            kiv_value element;
            if (path) {
                if (e >= plen) break;
                element = block::cells(&p)[e++];
            } else {
                if (pos >= end) break;
                element = *pos++;
            }
            bool active;
            uint32_t t = type_of(&element);
            if (t == TYPE_GET_WORD) {
                active = logic::truthy(_context::get(&element));
            } else if (path && t == TYPE_WORD) {
                active = true;
            } else if (named && t == TYPE_REFINEMENT) {
                // The expression after the refinement decides.
                active = false;
                if (pos < end) {
                    pos = fetch_state(c, pos);
                    if (exit_pending_q()) return pos;
                    active = logic::truthy(stack::top - 1);
                    stack::pop(1);
                }
            } else {
                if (named && !any_refinement) break;  // extra values of a call without refinements
                fire(err::SCRIPT, err::script::bad_refine, &element);
            }
            int64_t at = find_refinement(&list, word::symbol_of(&element));
            if (at < 0) {
                kiv_value n = call_name(c);
                fire(err::SCRIPT, err::script::no_refine, &n, &element);
            }
            kiv_value* where = path ? &p : &element;
            kiv_value* slot = nullptr;
            if (fn) {
                slot = stack::arguments + slot_of(&list, uint32_t(at));
                if (logic::truthy(slot)) fire(err::SCRIPT, err::script::dup_refine, where);
                *slot = active ? true_value : false_value;
            } else {
                uint32_t ordinal = block::cells(&list)[at].data3;
                if (refs[ordinal - 1] != -1) fire(err::SCRIPT, err::script::dup_refine, where);
                if (active) refs[ordinal - 1] = count;
            }
            for (uint32_t k = uint32_t(at) + 1; k < length; k++) {
                kiv_value ts = block::cells(&list)[k];
                // return: may end the last refinement's arguments.
                if (type_of(&ts) != TYPE_TYPESET || kind_of(&ts) == ARG_RETURN) break;
                if (!active && (flags & APPLY_SAFER)) {
                    if (pos < end) pos++;  // skipped unevaluated
                    continue;
                }
                pos = fetch_one(c, &ts, k, pos);
                if (exit_pending_q()) return pos;
                if (!active) {
                    stack::pop(1);
                    continue;
                }
                check_type(c, &ts, k, stack::top - 1);
                if (fn) {
                    kiv_value v = *(stack::top - 1);
                    stack::pop(1);
                    stack::arguments[slot_of(&list, k)] = v;
                } else {
                    count++;
                }
            }
        }
    }
    if (tracing_q) fire_event(EVT_CALL, code, flags ? nullptr : pos, name, callable);
    if (fn) {
        if (locals > 0) function::init_locals(locals);
        return pos;
    }
    if (base_type(callable) == TYPE_NATIVE) {
        natives::native_fn f = natives::table[callable->data1 - 1];
        if (!f) fire(err::INTERNAL, err::internal::not_done);
        f(false, refs.data());
    } else {
        actions::dispatch_table[callable->data1](refs.data());
    }
    return pos;
}

namespace {

void exec_routine(const kiv_value* routine) {
    kiv_value* code = aux_cell(routine, function::EXTRA_CODE);
    routine::entry f = routine::entry_at(type_of(code) == TYPE_INTEGER ? integer::get_value(code) : 0);
    if (!f) fire(err::INTERNAL, err::internal::not_done);
    f();
}

// Restores a switch when a call ends, however it ends.
struct restore_flag {
    bool& flag;
    bool saved;
    ~restore_flag() { flag = saved; }
};

}  // namespace

void call_function(const kiv_value* fn_value, node_id, const kiv_value* name, uint32_t callback) {
    kiv_value fn = *fn_value;
    restore_flag tracing{tracing_q, tracing_q};
    if (tracing_q && callback) tracing_q = false;
    if (fn.header & FUNCTION_TRACE) tracing_q = trace_q;
    if (fn.header & FUNCTION_NO_TRACE) tracing_q = false;
    node_id ctx = fn.data1;
    uint32_t& values = stack::context_values(ctx);
    uint32_t saved_values = values;
    values = stack::index_of(stack::arguments) + 1;
    stack::set_in_func_flag(true);
    kiv_value body = *function::extra_cell_of(&fn, function::EXTRA_BODY);
    if (tracing_q) fire_event(EVT_PROLOG, &body, nullptr, name, &fn);
    try {
        if (type_of(&body) == TYPE_BLOCK) eval(&body, true);
        else unset::return_();
    } catch (...) {
        stack::context_values(ctx) = saved_values;
        throw;
    }
    if (sys.pending_exit == LEVEL_RETURN || sys.pending_exit == LEVEL_EXIT) sys.pending_exit = LEVEL_NONE;
    stack::context_values(ctx) = saved_values;
    if (tracing_q) fire_event(EVT_EPILOG, &body, nullptr, name, &fn);
}

kiv_value* eval_code(const kiv_value* callable_in, kiv_value* pos, kiv_value* end, const kiv_value* code, bool sub,
                     const kiv_value* path, const kiv_value* name, const kiv_value*, uint32_t flags, bool infix) {
    system::check_native_stack();
    kiv_value callable = *callable_in;
    const kiv_value* frame_name = name && type_of(name) == TYPE_WORD ? name : word::load("<anon>");
    kiv_value fname = *frame_name;
    if (tracing_q) fire_event(EVT_OPEN, code, pos, nullptr, &fname);
    if (!infix) stack::push_value(&callable);
    switch (type_of(&callable)) {
        case TYPE_NATIVE:
        case TYPE_ACTION:
            stack::mark_interp_native(&fname);
            pos = fetch_args(&callable, pos, end, code, path, name, flags, infix);
            break;
        case TYPE_ROUTINE:
            stack::mark_interp_native(&fname);
            pos = fetch_args(&callable, pos, end, code, path, name, flags, infix);
            if (!exit_pending_q()) exec_routine(&callable);
            break;
        case TYPE_FUNCTION:
            stack::mark_interp_func(&fname, callable.data1);
            pos = fetch_args(&callable, pos, end, code, path, name, flags, infix);
            if (!exit_pending_q()) call_function(&callable, callable.data1, &fname, CB_NONE);
            break;
        default:
            system::runtime_error(system::RT_NO_SWITCH);
    }
    if (exit_pending_q()) return pos;
    if (sub) stack::unwind();
    else stack::unwind_last();
    if (tracing_q) fire_event(EVT_RETURN, code, pos, nullptr, sub ? stack::get_top() : stack::arguments);
    if (!infix) stack::pop_into_previous();
    return pos;
}

}  // namespace kiv::interpreter
