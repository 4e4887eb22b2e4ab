// Fast paths: the common integer, float and block cases of arithmetic,
// comparison, picking and navigation, computed without a dispatch.
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::actions {

namespace {

const int32_t NO_REFINEMENTS[1] = {-1};

// The dispatcher of each math code; codes 3 and 4 have no fast path.
dispatcher math_dispatcher(int32_t op) {
    switch (op) {
        case OP_ADD: return dispatch_table[SLOT_ADD];
        case OP_SUB: return dispatch_table[SLOT_SUBTRACT];
        case OP_MUL: return dispatch_table[SLOT_MULTIPLY];
        case OP_OR: return dispatch_table[SLOT_OR_T];
        case OP_AND: return dispatch_table[SLOT_AND_T];
        case OP_XOR: return dispatch_table[SLOT_XOR_T];
        default: system::runtime_error(system::RT_NO_SWITCH);
    }
}

// Computes into `out` when both operands allow it; false otherwise.
bool quick_math(int32_t op, const kiv_value* left, const kiv_value* right, kiv_value* out) {
    math_dispatcher(op);  // rejects codes without a fast path
    if (type_of(left) == TYPE_INTEGER && type_of(right) == TYPE_INTEGER) {
        integer::make_at(out, 0);
        integer::do_math(integer::get_value(left), integer::get_value(right), op, out);
        return true;
    }
    if (type_of(left) == TYPE_FLOAT && type_of(right) == TYPE_FLOAT && op <= OP_MUL) {
        float_::make_at(out, float_::do_math(float_::get(left), float_::get(right), op));
        return true;
    }
    return false;
}

// The general case: the dispatcher inside a native frame; the result is left
// as the last value.
kiv_value* slow_math(int32_t op, const kiv_value* word, const kiv_value* left,
                     const kiv_value* right) {
    kiv_value l = *left, r = *right;
    stack::mark_native(word);
    stack::push_value(&l);
    stack::push_value(&r);
    math_dispatcher(op)(NO_REFINEMENTS);
    stack::unwind();
    return stack::get_top();
}

bool quick_compare(int32_t op, const kiv_value* left, const kiv_value* right, bool* answer) {
    if (op < COMP_EQUAL || op > COMP_GREATER_EQUAL) system::runtime_error(system::RT_NO_SWITCH);
    if (type_of(left) != TYPE_INTEGER || type_of(right) != TYPE_INTEGER) return false;
    int32_t a = integer::get_value(left), b = integer::get_value(right);
    switch (op) {
        case COMP_EQUAL: case COMP_STRICT_EQUAL: *answer = a == b; break;
        case COMP_NOT_EQUAL: *answer = a != b; break;
        case COMP_LESSER: *answer = a < b; break;
        case COMP_LESSER_EQUAL: *answer = a <= b; break;
        case COMP_GREATER: *answer = a > b; break;
        default: *answer = a >= b; break;
    }
    return true;
}

bool compare_answer(int32_t op, const kiv_value* word, const kiv_value* left,
                    const kiv_value* right) {
    bool answer;
    if (quick_compare(op, left, right, &answer)) return answer;
    kiv_value l = *left, r = *right;
    stack::mark_native(word);
    stack::push_value(&l);
    stack::push_value(&r);
    answer = compare(stack::arguments, stack::arguments + 1, op);
    stack::unwind_drop();
    return answer;
}

kiv_value int_cell(int32_t n) {
    kiv_value c;
    integer::make_at(&c, n);
    return c;
}

}  // namespace

kiv_value* fast_math_op(int32_t op, const kiv_value* word, const kiv_value* left,
                        const kiv_value* right) {
    kiv_value out;
    if (quick_math(op, left, right, &out)) return stack::push_value(&out);
    return slow_math(op, word, left, right);
}

kiv_value* fast_math_op_int(int32_t op, const kiv_value* word, const kiv_value* left, int32_t n) {
    kiv_value right = int_cell(n);
    return fast_math_op(op, word, left, &right);
}

kiv_value* fast_math_op_top(int32_t op, const kiv_value* word, const kiv_value* right) {
    kiv_value* top = stack::get_top();
    if (quick_math(op, top, right, top)) return top;
    kiv_value* result = slow_math(op, word, top, right);
    copy_cell(result, top);
    stack::pop(1);
    return top;
}

kiv_value* fast_math_op_top_int(int32_t op, const kiv_value* word, int32_t n) {
    kiv_value right = int_cell(n);
    return fast_math_op_top(op, word, &right);
}

kiv_value* fast_compare_op(int32_t op, const kiv_value* word, const kiv_value* left,
                           const kiv_value* right) {
    return logic::push(compare_answer(op, word, left, right));
}

kiv_value* fast_compare_op_int(int32_t op, const kiv_value* word, const kiv_value* left,
                               int32_t n) {
    kiv_value right = int_cell(n);
    return fast_compare_op(op, word, left, &right);
}

bool fast_compare_cond(int32_t op, const kiv_value* word, const kiv_value* left,
                       const kiv_value* right, bool expected) {
    return compare_answer(op, word, left, right) != expected;
}

bool fast_compare_cond_int(int32_t op, const kiv_value* word, const kiv_value* left, int32_t n,
                           bool expected) {
    kiv_value right = int_cell(n);
    return fast_compare_cond(op, word, left, &right, expected);
}

bool fast_compare_bool(int32_t op, const kiv_value* word, const kiv_value* left,
                       const kiv_value* right) {
    bool answer = compare_answer(op, word, left, right);
    logic::box(answer);
    return answer;
}

bool fast_compare_bool_int(int32_t op, const kiv_value* word, const kiv_value* left, int32_t n) {
    kiv_value right = int_cell(n);
    return fast_compare_bool(op, word, left, &right);
}

kiv_value* fast_compare_top(int32_t op, const kiv_value* word, const kiv_value* right) {
    kiv_value* top = stack::get_top();
    bool answer = compare_answer(op, word, top, right);
    return copy_cell(answer ? &true_value : &false_value, top);
}

kiv_value* fast_compare_top_int(int32_t op, const kiv_value* word, int32_t n) {
    kiv_value right = int_cell(n);
    return fast_compare_top(op, word, &right);
}

// Cells from a block's cursor to its tail (negative when the cursor lies past
// the tail).
static int32_t cells_left(const kiv_value* block) {
    return int32_t(series::used_units(series::buffer(block->data2))) - int32_t(block->data1);
}

kiv_value* fast_block_pick(const kiv_value* value, int32_t index, const kiv_value* word) {
    if (type_of(value) == TYPE_BLOCK) {
        if (index < 1 || index > cells_left(value)) return stack::push_value(&none_value);
        auto* cells = reinterpret_cast<kiv_value*>(series::buffer(value->data2)->offset);
        return stack::push_value(&cells[value->data1 + uint32_t(index) - 1]);
    }
    kiv_value v = *value;
    stack::mark_native(word);
    stack::push_value(&v);
    integer::push(index);
    const int32_t reading[1] = {0};
    dispatch_table[SLOT_EVAL_PATH](reading);
    stack::unwind();
    return stack::get_top();
}

kiv_value* fast_series_nav(const kiv_value* value, int32_t op, const kiv_value* word) {
    static const uint32_t slots[] = {0, SLOT_LENGTH_Q, SLOT_INDEX_Q, SLOT_HEAD_Q, SLOT_TAIL_Q,
                                     SLOT_NEXT, SLOT_BACK, SLOT_HEAD, SLOT_TAIL};
    if (op < NAV_LENGTH || op > NAV_TAIL) system::runtime_error(system::RT_NO_SWITCH);
    if (type_of(value) != TYPE_BLOCK) {
        kiv_value v = *value;
        stack::mark_native(word);
        stack::push_value(&v);
        dispatch_table[slots[op]](NO_REFINEMENTS);
        stack::unwind();
        return stack::get_top();
    }
    int32_t n = cells_left(value);
    kiv_value copy = *value;
    switch (op) {
        case NAV_LENGTH: return integer::push(n > 0 ? n : 0);
        case NAV_INDEX: return integer::push(int32_t(value->data1) + 1);
        case NAV_HEAD_Q: return logic::push(value->data1 == 0);
        case NAV_TAIL_Q: return logic::push(n < 1);
        case NAV_NEXT: if (n > 0) copy.data1++; break;
        case NAV_BACK: if (copy.data1 > 0) copy.data1--; break;
        case NAV_HEAD: copy.data1 = 0; break;
        default: copy.data1 = uint32_t(int32_t(copy.data1) + n); break;
    }
    return stack::push_value(&copy);
}

}  // namespace kiv::actions
