// Trace events: each step of evaluation reported to one Kiv function.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/system.h"
#include "runtime/stack.h"

namespace kiv::interpreter {

namespace {

struct event_name {
    const char* word;
    uint32_t bit;
};
constexpr event_name EVENTS[] = {
    {"init", EVT_INIT},   {"end", EVT_END},     {"prolog", EVT_PROLOG}, {"epilog", EVT_EPILOG},
    {"enter", EVT_ENTER}, {"exit", EVT_EXIT},   {"open", EVT_OPEN},     {"return", EVT_RETURN},
    {"fetch", EVT_FETCH}, {"push", EVT_PUSH},   {"set", EVT_SET},       {"call", EVT_CALL},
    {"error", EVT_ERROR}, {"throw", EVT_THROW}, {"catch", EVT_CATCH},   {"expr", EVT_EXPR},
};
constexpr uint32_t DEFAULT_MASK = 0x1FFFF;

const char* name_of(uint32_t bit) {
    for (const event_name& e : EVENTS)
        if (e.bit == bit) return e.word;
    return "init";
}

// The tracer's view of a position: its index from the head of the code, -1
// when there is no code or the position lies outside it.
int32_t offset_of(const kiv_value* code, const kiv_value* pos) {
    if (!code || !pos || !block::cells(code)) return -1;
    kiv_value* head = block::cells(code) + code->data1;
    if (pos < head || pos > block::ks_tail(code)) return -1;
    return int32_t(pos - head);
}

}  // namespace

uint32_t event_mask_of(const kiv_value* fn) {
    kiv_value body = *function::extra_cell_of(fn, function::EXTRA_BODY);
    if (type_of(&body) != TYPE_BLOCK || block::ks_length_q(&body) < 1) return DEFAULT_MASK;
    kiv_value first = block::cells(&body)[body.data1];
    if (type_of(&first) != TYPE_BLOCK || block::ks_length_q(&first) < 1) return DEFAULT_MASK;
    uint32_t mask = 0;
    for (uint32_t i = first.data1; i < block::length_all(&first); i++) {
        kiv_value* w = block::cells(&first) + i;
        if (type_of(w) != TYPE_WORD) continue;
        for (const event_name& e : EVENTS)
            if (symbol::resolve(word::symbol_of(w)) == symbol::resolve(symbol::make(e.word))) mask |= e.bit;
    }
    return mask;
}

void fire_event(uint32_t event, const kiv_value* code, const kiv_value* pos, const kiv_value* ref,
                const kiv_value* value) {
    if (!(event & event_mask) || type_of(tracer) != TYPE_FUNCTION) return;
    kiv_value fn = *tracer;
    kiv_value code_copy = code ? *code : none_value;
    int32_t offset = offset_of(code, pos);
    kiv_value v = value ? *value : none_value;
    kiv_value r = ref && (event & (EVT_SET | EVT_EPILOG | EVT_PROLOG | EVT_RETURN | EVT_CALL)) ? *ref : none_value;
    kiv_value frame{TYPE_PAIR, 0, stack::index_of(stack::arguments), stack::index_of(stack::top)};
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    stack::top++;  // keep the value being built at the top
    kiv_value* name = word::load("<interp-callback>");
    stack::mark_interp_func(name, fn.data1);
    kiv_value* w = word::load(name_of(event));
    stack::push_value(w);
    stack::push_value(&code_copy);
    integer::push(offset);
    stack::push_value(&v);
    stack::push_value(&r);
    stack::push_value(&frame);
    kiv_value spec{TYPE_BLOCK, 0, fn.data2, 0};
    int32_t locals = function::locate_refinement(&spec, 0, false);
    if (locals > 0) function::init_locals(locals);
    tracing_q = false;
    try {
        call_function(&fn, fn.data1, name, CB_NONE);
    } catch (...) {
        tracing_q = true;
        throw;
    }
    tracing_q = true;
    sys.pending_exit = LEVEL_NONE;
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
}

}  // namespace kiv::interpreter
