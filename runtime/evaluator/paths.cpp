// Path evaluation: a head word, then selectors applied through each value's
// datatype; a function met on the way is called with the rest of the path
// as its refinements.
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/stack.h"

namespace kiv::interpreter {

namespace {

bool block_kind_q(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

bool callable_q(uint32_t t) {
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE || t == TYPE_NATIVE || t == TYPE_ACTION;
}

void place(const kiv_value* result, kiv_value* saved_top, bool sub) {
    kiv_value r = *result;
    stack::top = saved_top;
    if (sub) stack::push_value(&r);
    else copy_cell(&r, stack::arguments);
}

}  // namespace

kiv_value* eval_path(const kiv_value* path_in, kiv_value* pos, kiv_value* end, const kiv_value* code, bool set,
                     bool get, bool sub) {
    kiv_value path = *path_in;
    uint32_t length = block::length_all(&path);
    if (path.data1 >= length) fire(err::SCRIPT, err::script::empty_path);
    kiv_value* saved_top = stack::top;
    kiv_value head = block::cells(&path)[path.data1];
    if (tracing()) {
        fire_event(EVT_ENTER, &path, block::cells(&path) + path.data1, nullptr, nullptr);
        fire_event(EVT_FETCH, &path, block::cells(&path) + path.data1, nullptr, &head);
    }
    if (type_of(&head) != TYPE_WORD) fire(err::SCRIPT, err::script::word_first, &path);
    kiv_value current = *_context::get(&head);
    if (callable_q(type_of(&current))) {
        if (set) fire(err::SCRIPT, err::script::invalid_path_set, &path);
        if (get) fire(err::SCRIPT, err::script::invalid_path_get, &path);
        pos = call_path(&current, pos, end, code, &path, &head);
        if (exit_pending_q()) return pos;
        if (!sub) {
            kiv_value r = *stack::get_top();
            stack::top = saved_top;
            copy_cell(&r, stack::arguments);
        }
        if (tracing()) fire_event(EVT_EXIT, &path, block::ks_tail(&path), nullptr, sub ? stack::get_top() : stack::arguments);
        return pos;
    }
    if (type_of(&current) == TYPE_UNSET) fire(err::SCRIPT, err::script::unset_path, &path, &head);
    if (tracing()) fire_event(EVT_PUSH, &path, block::cells(&path) + path.data1, nullptr, &current);
    kiv_value value = set ? *stack::arguments : none_value;
    // An object's field named by a word (o/n, o/n: value), the most frequent
    // path, is reached without the walk through the datatype's path action;
    // what that walk would refuse or call is left to it.
    if (!tracing() && length - path.data1 == 2 && type_of(&current) == TYPE_OBJECT) {
        const kiv_value* element = block::cells(&path) + path.data1 + 1;
        if (type_of(element) == TYPE_WORD) {
            if (set) {
                if (object::path_field(&current, element, &value)) {
                    place(&value, saved_top, sub);
                    return pos;
                }
            } else if (kiv_value* field = object::path_field(&current, element, nullptr)) {
                uint32_t t = type_of(field);
                if (t != TYPE_UNSET && (get || !callable_q(t))) {
                    place(field, saved_top, sub);
                    return pos;
                }
            }
        }
    }
    kiv_value previous = head;
    kiv_value previous_selector = head;
    kiv_value container = none_value;
    for (uint32_t i = path.data1 + 1; i < length; i++) {
        kiv_value element = block::cells(&path)[i];
        if (tracing()) fire_event(EVT_FETCH, &path, block::cells(&path) + i, nullptr, &element);
        kiv_value selector = element;
        if (type_of(&element) == TYPE_GET_WORD) {
            selector = *_context::get(&element);
        } else if (type_of(&element) == TYPE_PAREN) {
            stack::mark_native(&body_name);
            eval(&element, true);
            if (exit_pending_q()) return pos;
            stack::unwind();
            selector = *stack::get_top();
        }
        if (tracing()) fire_event(EVT_PUSH, &path, block::cells(&path) + i, &element, &selector);
        if (type_of(&selector) == TYPE_UNSET) fire(err::SCRIPT, err::script::invalid_path, &path, &element);
        bool last = i + 1 == length;
        bool notify = set && last && length - path.data1 >= 3 &&
                      (block_kind_q(type_of(&container)) ||
                       (type_of(&container) == TYPE_OBJECT && container.data3 != 0 && type_of(&previous) == TYPE_WORD));
        // A value set into changes in place, so a scalar such as a pair or a
        // time must be reached where it is kept, not through the copy the
        // walk holds: its container gives its cell again, now that the
        // selector's evaluation can no longer move it.
        kiv_value* target = &current;
        if (set && last) {
            kiv_value reselected = previous_selector;
            target = i == path.data1 + 1
                         ? _context::get(&head)
                         : actions::eval_path_typed(&container, &reselected, nullptr, &path, nullptr, nullptr,
                                                    int32_t(i - path.data1 - 1), false, true, false, false);
        }
        kiv_value* result = actions::eval_path_typed(target, &selector, set && last ? &value : nullptr, &path,
                                                     &container, &previous, int32_t(i - path.data1), false, get, last,
                                                     notify);
        kiv_value next = *result;
        if (!set && !get && callable_q(type_of(&next))) {
            pos = eval_code(&next, pos, end, code, true, &path, &element, &current, 0, false);
            if (exit_pending_q()) return pos;
            kiv_value r = *stack::get_top();
            place(&r, saved_top, sub);
            return pos;
        }
        previous = element;
        previous_selector = selector;
        container = current;
        current = next;
    }
    if (tracing()) fire_event(EVT_EXIT, &path, block::ks_tail(&path), nullptr, &current);
    place(set ? &value : &current, saved_top, sub);
    return pos;
}

}  // namespace kiv::interpreter
