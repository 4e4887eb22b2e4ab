// The interpreter: evaluation of blocks and expressions, function calls,
// paths and trace events.
#include "runtime/evaluator/interpreter.h"

#include <algorithm>
#include <array>

#include "runtime/collector.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/quick_ops.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::interpreter {

kiv_value code_position{TYPE_UNSET, 0, 0, 0};
static kiv_value tracer_cell{TYPE_NONE, 0, 0, 0};
kiv_value* tracer = &tracer_cell;
bool tracing_q = false;
bool trace_q = false;
uint32_t tracing_switches = 0;

void switch_tracing(bool on) {
    tracing_q = on;
    tracing_switches++;
}
uint32_t event_mask = 0;

kiv_value body_name{TYPE_NONE, 0, 0, 0};
kiv_value anon_name{TYPE_NONE, 0, 0, 0};
namespace {
kiv_value set_path_name{TYPE_NONE, 0, 0, 0};
}  // namespace

// These cells live outside every series: the collector is told of them.
static void mark_cells() {
    for (kiv_value* c : {&code_position, &tracer_cell, &body_name, &anon_name, &set_path_name})
        collector::mark_values(c, c + 1);
}

void init() {
    code_position = unset_value;
    tracer_cell = none_value;
    body_name = *word::load("<body>");
    anon_name = *word::load("<anon>");
    set_path_name = *word::load("set-path");
    collector::add_mark_callback(mark_cells);
}

namespace {

// The runtime's own frame names, held in marked cells so that evaluation
// does not look them up.
const kiv_value* body_word() { return &body_name; }
const kiv_value* set_path_word() { return &set_path_name; }

bool callable_q(uint32_t t) {
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE || t == TYPE_NATIVE || t == TYPE_ACTION;
}

}  // namespace

// Blocks ------------------------------------------------------------------------

namespace {

// The walker for expressions that start with anything but a word, and its
// part past the quick statements.
kiv_value* eval_walk(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix, bool sub, bool passive);
kiv_value* walk_general(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix, bool sub, bool passive);
[[gnu::always_inline]] inline kiv_value* quick_set_word(kiv_value* pos, kiv_value* end, bool sub);

// The next expression of a block into the frame's result slot. A set-word,
// the usual statement of a loop body, is tried as a quick one at once.
[[gnu::always_inline]] inline kiv_value* eval_statement(kiv_value* pos, kiv_value* end, const kiv_value* code) {
    if (type_of(pos) != TYPE_SET_WORD) return eval_next(pos, end, code, false, false, false);
    if (!tracing())
        if (kiv_value* next = quick_set_word(pos, end, false)) return next;
    return walk_general(pos, end, code, false, false, false);
}

// The code position of a block's statements.
kiv_value position_of(const kiv_value* block_value) {
    return kiv_value{(block_value->header & ~TYPE_MASK) | TYPE_BLOCK, block_value->data1, block_value->data2,
                     block_value->data3};
}

// Evaluates a block in a frame of its own, its statements at `position`;
// the caller puts its own code position back.
[[gnu::always_inline]] inline void eval_in_frame(const kiv_value* block_value, bool chain,
                                                 const kiv_value& position) {
    system::check_interrupt();
    // The block's fields are read from the value itself, the copy only keeps
    // it for the events: reading back a just-copied cell stalls the
    // processor on this hot path.
    series_buffer* b = series::buffer(block_value->data2);
    uint32_t index = std::min(block_value->data1, series::used_units(b));
    kiv_value* head = reinterpret_cast<kiv_value*>(b->offset) + index;
    kiv_value* end = reinterpret_cast<kiv_value*>(b->tail);
    kiv_value blk = *block_value;  // the code of events and errors, not read back here
    blk.data1 = index;
    stack::mark_eval(body_word());
    if (tracing()) fire_event(EVT_ENTER, &blk, head, nullptr, nullptr);
    if (head == end) {
        unset::return_();
    } else {
        code_position = position;
        for (kiv_value* pos = head; pos < end;) {
            code_position.data1 = index + uint32_t(pos - head);
            pos = eval_statement(pos, end, &blk);
            if (exit_pending_q()) return;
            if (pos < end) stack::reset();
        }
    }
    if (tracing()) fire_event(EVT_EXIT, &blk, end, nullptr, stack::arguments);
    if (chain) stack::unwind_last();
    else stack::unwind();
}

}  // namespace

void eval(const kiv_value* block_value, bool chain) {
    // The caller's position comes back however the block is left, an error
    // included, so that later errors are not placed in this block.
    struct restore_position {
        kiv_value saved = code_position;
        ~restore_position() { code_position = saved; }
    } restore;
    eval_in_frame(block_value, chain, position_of(block_value));
}

loop_body::loop_body(const kiv_value* body) : body_(*body), position_(position_of(body)), caller_(code_position) {}

void loop_body::eval() {
    eval_in_frame(&body_, true, position_);
    code_position = caller_;
}

namespace {

// Pops a frame the way the result mode asks.
void pop_frame(bool sub) {
    if (sub) stack::unwind();
    else stack::unwind_last();
}

// The value a right operand gives without evaluating anything: a literal, a
// word's value, or an object's field named by a word/word path; null for
// anything else.
// The object a word/word path starts from, its field word in `field`; null
// for a path of another shape or a word without an object.
[[gnu::always_inline]] inline const kiv_value* word_path_object(const kiv_value* path, const kiv_value** field) {
    if (path->data1 + 2 != block::length_all(path)) return nullptr;
    const kiv_value* head = block::cells(path) + path->data1;
    if (type_of(head) != TYPE_WORD || type_of(head + 1) != TYPE_WORD) return nullptr;
    const kiv_value* object = _context::get_if(head);
    if (!object || type_of(object) != TYPE_OBJECT) return nullptr;
    *field = head + 1;
    return object;
}

// Words read while nothing can move a buffer, as in a quick expression: the
// global context's values are looked up once for all of them.
class quick_words {
  public:
    quick_words()
        : values_(_context::kept_values(_context::global_values.ctx)), global_(_context::global_values.ctx) {}
    // The word's value cell, as _context::get_if gives it.
    [[gnu::always_inline]] kiv_value* get_if(const kiv_value* word) const {
        if (kiv_value* v = global_slot(word)) return v;
        return _context::get_if(word);
    }
    // The word's cell in the global context, null when it is bound elsewhere.
    [[gnu::always_inline]] kiv_value* global_slot(const kiv_value* word) const {
        int32_t index = int32_t(word->data3);
        return word->data1 == global_ && values_ && index >= 0 ? values_ + index : nullptr;
    }

  private:
    kiv_value* values_;
    node_id global_;
};

[[gnu::always_inline]] inline const kiv_value* plain_operand(const kiv_value* at, const quick_words& words) {
    uint32_t t = type_of(at);
    if (t == TYPE_WORD) return words.get_if(at);
    if (t != TYPE_PATH) return at;
    const kiv_value* field;
    const kiv_value* object = word_path_object(at, &field);
    return object ? object::path_field(object, field, nullptr) : nullptr;
}

// The operators met in nearly every loop and recursion (+ - * and the
// comparisons), between two numbers, are computed here without a call
// frame or a walk over the argument list. Everything else (other types, a
// right operand to evaluate, events to trace) takes the general call. The
// result goes where the call would leave it: over the left operand.
// The quick operation of `left` and `right` into `left`; false, nothing
// done, when the general call must answer.
[[gnu::always_inline]] inline bool quick_step(int32_t quick, kiv_value* left, const kiv_value* right) {
    if (quick_values(quick, left, right, left)) [[likely]]
        return true;
    if (quick < QUICK_COMPARE || !number_q(type_of(left)) || !number_q(type_of(right))) return false;
    kiv_value a = *left, b = *right;
    *left = actions::compare(&a, &b, quick - QUICK_COMPARE) ? true_value : false_value;
    return true;
}

bool quick_infix(int32_t quick, kiv_value*& pos, kiv_value* saved_top, bool sub) {
    const kiv_value* right = plain_operand(pos + 1, quick_words());
    if (!right) return false;
    kiv_value* left = saved_top;
    if (!quick_step(quick, left, right)) return false;
    stack::top = left + 1;
    if (!sub) copy_cell(left, stack::arguments);
    pos += 2;
    return true;
}

bool infix_lookahead(kiv_value*& pos, kiv_value* end, const kiv_value* code, kiv_value* saved_top, bool sub) {
    if (pos >= end || type_of(pos) != TYPE_WORD) return false;
    // A word of a function that is not running is passed over.
    const kiv_value* value = _context::get_if(pos);
    if (!value || type_of(value) != TYPE_OP) return false;
    if (!tracing() && pos + 1 < end) {
        int32_t quick = quick_op(value);
        if (quick >= 0 && (quick_infix(quick, pos, saved_top, sub) ||
                           call_quick_op(value, quick, pos, end, code, saved_top, sub)))
            return true;
    }
    // Read in place, but kept as they were when a tracer runs first.
    const kiv_value* name = pos;
    kiv_value kept[2];
    if (tracing()) {
        kept[0] = *value;
        kept[1] = *pos;
        value = &kept[0];
        name = &kept[1];
        fire_event(EVT_FETCH, code, pos, nullptr, name);
    }
    // The left operand, at saved_top, is the operator's first argument. It
    // stays below the top until the call holds it: it may be the only
    // reference to a fresh series, and the call allocates before that.
    stack::top = saved_top + 1;
    pos = eval_code(value, pos + 1, end, code, sub, nullptr, name, nullptr, 0, true);
    return true;
}

// The operators that follow an expression, while any does.
[[gnu::noinline]] kiv_value* operators_after(kiv_value* pos, kiv_value* end, const kiv_value* code,
                                             kiv_value* saved_top, bool sub) {
    while (infix_lookahead(pos, end, code, saved_top, sub))
        if (exit_pending_q()) break;
    return pos;
}

// Ends an expression: the operators that follow it, then the event. Only a
// word may be an operator: the test for one stays inline.
inline kiv_value* finish_expression(kiv_value* pos, kiv_value* end, const kiv_value* code, kiv_value* saved_top,
                                    bool infix, bool sub) {
    if (!infix && pos < end && type_of(pos) == TYPE_WORD) {
        pos = operators_after(pos, end, code, saved_top, sub);
        if (exit_pending_q()) return pos;
    }
    if (tracing() && !sub) fire_event(EVT_EXPR, code, pos, nullptr, stack::arguments);
    return pos;
}

// An expression starting with a word, the most frequent kind after a lone
// literal: the word's value, or the call it names.
[[gnu::always_inline]] inline kiv_value* eval_word(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix,
                                                  bool sub) {
    kiv_value* saved_top = stack::top;
    // Read in place, but kept as it was when a tracer runs first.
    const kiv_value* word = pos;
    kiv_value kept;
    if (tracing()) {
        kept = *pos;
        word = &kept;
        fire_event(EVT_FETCH, code, pos, nullptr, word);
    }
    const kiv_value* v = _context::get(word);
    uint32_t t = type_of(v);
    if (t == TYPE_UNSET) fire(err::SCRIPT, err::script::no_value, word);
    if (t == TYPE_OP) fire(err::SCRIPT, err::script::no_op_arg, word);
    if (callable_q(t)) {
        pos = call_word(v, pos + 1, end, code, sub, word);
        if (exit_pending_q()) return pos;
    } else {
        put_result(v, sub);
        if (tracing()) fire_event(EVT_PUSH, code, pos, nullptr, sub ? stack::get_top() : stack::arguments);
        pos++;
    }
    return finish_expression(pos, end, code, saved_top, infix, sub);
}

// The value of a word/word path on an object, as evaluating the path gives
// it, when no call, error or event can come of it; null otherwise.
const kiv_value* plain_field(const kiv_value* path) {
    const kiv_value* field = plain_operand(path, quick_words());
    if (!field) return nullptr;
    uint32_t t = type_of(field);
    return t == TYPE_UNSET || callable_q(t) ? nullptr : field;
}

// Values that evaluating a word may call or raise on.
constexpr uint64_t NOT_PLAIN_TYPES = type_bit(TYPE_UNSET) | type_bit(TYPE_OP) | type_bit(TYPE_FUNCTION) |
                                     type_bit(TYPE_ROUTINE) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION);

// The first value of a quick expression: a literal, a word's plain value,
// or an object's field; null when evaluating it could call or raise.
[[gnu::always_inline]] inline const kiv_value* plain_start(const kiv_value* at, const quick_words& words) {
    uint32_t t = type_of(at);
    if (t == TYPE_WORD) {
        const kiv_value* v = words.get_if(at);
        if (!v) return nullptr;
        uint32_t vt = type_of(v);
        return vt >= TYPE_COUNT || (NOT_PLAIN_TYPES & type_bit(vt)) ? nullptr : v;
    }
    if (t == TYPE_PATH) return plain_field(at);
    return t != TYPE_UNSET && literal_q(t) ? at : nullptr;
}

// The value of a quick expression (see quick_value) into `value`; the
// position after it, or null when the expression has another shape. Reads
// only: the operands are combined off the stack.
[[gnu::always_inline]] inline kiv_value* quick_expression(kiv_value* pos, kiv_value* end, kiv_value* value,
                                                           const quick_words& words) {
    if (pos >= end) return nullptr;
    const kiv_value* start = plain_start(pos, words);
    if (!start) return nullptr;
    *value = *start;
    pos++;
    while (pos < end && type_of(pos) == TYPE_WORD) {
        const kiv_value* op = words.get_if(pos);
        if (!op || type_of(op) != TYPE_OP) break;
        // A parenthesised right operand leaves the whole to the general way at once.
        if (pos + 1 >= end || type_of(pos + 1) == TYPE_PAREN) return nullptr;
        int32_t quick = quick_op(op);
        if (quick < 0) return nullptr;
        const kiv_value* right = plain_operand(pos + 1, words);
        if (!right || !quick_step(quick, value, right)) return nullptr;
        pos += 2;
    }
    return pos;
}

}  // namespace

kiv_value* quick_value(kiv_value* pos, kiv_value* end, kiv_value* slot) {
    kiv_value value;
    pos = quick_expression(pos, end, &value, quick_words());
    if (!pos) return nullptr;
    stack::top = slot;
    stack::push_value(&value);
    return pos;
}

namespace {

// `word: value` with a quick value, into a context whose values are at hand
// and that tells no object of the change.
[[gnu::always_inline]] inline kiv_value* quick_set_word(kiv_value* pos, kiv_value* end, bool sub) {
    kiv_value value;
    quick_words words;
    kiv_value* next = quick_expression(pos + 1, end, &value, words);
    if (!next) return nullptr;
    kiv_value* slot = stack::push_value(&value);
    if (kiv_value* global = words.global_slot(pos)) *global = value;
    else if (!_context::set_quiet(pos, &value)) {
        stack::top = slot;
        return nullptr;
    }
    if (!sub) *stack::arguments = value;
    return next;
}

// `object/word: value` with a quick value, on an object with no change
// handler and a field of that name.
kiv_value* quick_set_path(kiv_value* pos, kiv_value* end, bool sub) {
    const kiv_value* field;
    const kiv_value* object = word_path_object(pos, &field);
    if (!object || object->data3) return nullptr;
    kiv_value* slot = stack::top;
    kiv_value* next = quick_value(pos + 1, end, slot);
    if (!next) return nullptr;
    if (!object::path_field(object, field, slot)) {
        stack::top = slot;
        return nullptr;
    }
    if (!sub) copy_cell(slot, stack::arguments);
    return next;
}

}  // namespace

kiv_value* eval_expression(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix, bool sub,
                           bool passive) {
    if (type_of(pos) == TYPE_WORD) return eval_word(pos, end, code, infix, sub);
    return eval_walk(pos, end, code, infix, sub, passive);
}

namespace {

kiv_value* eval_walk(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix, bool sub, bool passive) {
    // Set-words and set-paths with a quick value, the usual statements of a
    // loop body, before any other work. What follows the value is no
    // operator: the quick value took them all.
    if (!tracing()) {
        uint32_t t = type_of(pos);
        kiv_value* next = t == TYPE_SET_WORD ? quick_set_word(pos, end, sub)
                        : t == TYPE_SET_PATH ? quick_set_path(pos, end, sub) : nullptr;
        if (next) return next;
    }
    return walk_general(pos, end, code, infix, sub, passive);
}

kiv_value* walk_general(kiv_value* pos, kiv_value* end, const kiv_value* code, bool infix, bool sub,
                        bool passive) {
    system::check_native_stack();
    kiv_value* saved_top = stack::top;
    kiv_value cell = *pos;
    if (tracing()) fire_event(EVT_FETCH, code, pos, nullptr, &cell);
    // Dispatch and word lookup read the block's cell; the copy serves what
    // may outlive a change of the block.
    switch (type_of(pos)) {
        case TYPE_PAREN:
            // eval's own frame holds the value: popped, it is pushed (sub)
            // or chained into the caller's result slot.
            eval(&cell, !sub);
            if (exit_pending_q()) return pos;
            pos++;
            break;
        case TYPE_SET_WORD: {
            stack::mark_native(pos);
            stack::set_interpreted_flag();
            stack::push_value(&cell);
            if (tracing()) fire_event(EVT_PUSH, code, pos, nullptr, &cell);
            pos++;
            if (pos >= end) fire(err::SCRIPT, err::script::need_value, &cell);
            pos = eval_next(pos, end, code, false, true, false);
            if (exit_pending_q()) return pos;
            if (tracing()) fire_event(EVT_SET, code, pos, &cell, stack::arguments + 1);
            word::set();
            pop_frame(sub);
            break;
        }
        case TYPE_SET_PATH: {
            if (tracing()) fire_event(EVT_PUSH, code, pos, nullptr, &cell);
            pos++;
            if (pos >= end) fire(err::SCRIPT, err::script::need_value, &cell);
            stack::mark_native(set_path_word());
            pos = eval_next(pos, end, code, false, true, false);
            if (exit_pending_q()) return pos;
            if (tracing()) fire_event(EVT_SET, code, pos, &cell, stack::arguments);
            eval_path(&cell, pos, end, code, true, false, false);
            if (exit_pending_q()) return pos;
            pop_frame(sub);
            break;
        }
        case TYPE_GET_WORD: {
            const kiv_value* v = _context::get(pos);
            put_result(v, sub);
            if (tracing()) fire_event(EVT_PUSH, code, pos, nullptr, sub ? stack::get_top() : stack::arguments);
            pos++;
            break;
        }
        case TYPE_LIT_WORD: {
            kiv_value v = cell;
            v.header = TYPE_WORD;
            put_result(&v, sub);
            if (tracing()) fire_event(EVT_PUSH, code, pos, nullptr, &v);
            pos++;
            break;
        }
        case TYPE_PATH:
        case TYPE_GET_PATH:
            pos = eval_path(&cell, pos + 1, end, code, false, type_of(&cell) == TYPE_GET_PATH, sub);
            if (exit_pending_q()) return pos;
            if (tracing()) fire_event(EVT_PUSH, code, pos, nullptr, sub ? stack::get_top() : stack::arguments);
            break;
        case TYPE_LIT_PATH: {
            kiv_value v = cell;
            v.header = TYPE_PATH;
            v.data3 = 0;
            put_result(&v, sub);
            if (tracing()) fire_event(EVT_PUSH, code, pos, nullptr, &v);
            pos++;
            break;
        }
        case TYPE_OP:
            // An operator written as a value starts no expression, as one
            // reached through its word does not.
            fire(err::SCRIPT, err::script::no_op_arg, &cell);
        case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_NATIVE: case TYPE_ACTION:
            if (!passive) {
                pos = eval_code(&cell, pos + 1 < end ? pos + 1 : end, end, code, sub, nullptr, nullptr, nullptr, 0,
                                false);
                if (exit_pending_q()) return pos;
                break;
            }
            [[fallthrough]];
        default: {
            if (type_of(&cell) == TYPE_ISSUE && pos + 1 < end && type_of(pos + 1) == TYPE_BLOCK) {
                int32_t s = symbol::resolve(word::symbol_of(&cell));
                if (s == symbol::resolve(symbol::make("system")) || s == symbol::resolve(symbol::make("system-global")))
                    fire(err::INTERNAL, err::internal::kiv_system);
            }
            put_result(&cell, sub);
            if (tracing()) fire_event(EVT_PUSH, code, pos, nullptr, &cell);
            pos++;
            break;
        }
    }
    return finish_expression(pos, end, code, saved_top, infix, sub);
}

}  // namespace

kiv_value* eval_next_keep(const kiv_value* code, kiv_value* pos, kiv_value* end, bool sub) {
    stack::mark_native(body_word());
    pos = eval_next(pos, end, code, false, false, false);
    if (exit_pending_q()) return pos;
    pop_frame(sub);
    return pos;
}

uint32_t eval_single(const kiv_value* block_value) {
    kiv_value blk = *block_value;
    kiv_value* head = block::ks_head(&blk);
    kiv_value* end = block::ks_tail(&blk);
    if (head >= end) {
        unset::return_();
        return blk.data1;
    }
    kiv_value* pos = eval_next_keep(&blk, head, end, false);
    return blk.data1 + uint32_t(pos - head);
}

}  // namespace kiv::interpreter
