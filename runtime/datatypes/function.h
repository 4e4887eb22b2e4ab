#pragma once
// The callables: native! and action! (built-in code reached through the
// natives table and the action dispatch table, by index), op! (a copy of a
// callable's cell called infix, the wrapped type in header bits 16-23),
// function! (a spec, a context and an extra block holding the bound body)
// and routine!.
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv {

constexpr uint32_t FUNCTION_TRACE = 0x400;
constexpr uint32_t FUNCTION_NO_TRACE = 0x200;
constexpr uint32_t OP_WRAPPED_SHIFT = 16;

inline uint32_t op_wrapped_type(const kiv_value* op) { return (op->header >> OP_WRAPPED_SHIFT) & 0xFF; }

namespace native {
void init();  // native!, action!, op!
}

namespace op {
// Accepts a spec of exactly two arguments, the first neither quoted nor
// fetched.
bool check_spec(const kiv_value* spec);
}

namespace function {

// Extra block cells.
enum extra_cell : uint32_t { EXTRA_BODY = 0, EXTRA_SPARE, EXTRA_CODE, EXTRA_OP, EXTRA_VALUE, EXTRA_CELLS };

// Validates a spec block; returns its attribute flags.
uint32_t check_spec(const kiv_value* spec);
// Builds a function! on the argument stack and returns its context.
node_id push(const kiv_value* spec, const kiv_value* body, node_id ctx, int32_t code, int32_t extra,
             uint32_t flags);
// Makes every word the body sets a local of the spec (the function native).
void collect_locals(kiv_value* spec, const kiv_value* body);
// 1 + the locals after /local, 0 without /local (-1 when required).
int32_t locate_refinement(const kiv_value* spec, uint32_t start, bool require);
void init_locals(int32_t n);
inline kiv_value* extra_cell_of(const kiv_value* fn, uint32_t cell) {
    return reinterpret_cast<kiv_value*>(series::buffer(fn->data3)->offset) + cell;
}

void init();  // function!, routine!

}  // namespace function

namespace routine {
// Routines are C++ functions that read their arguments from
// stack::arguments and leave their result there; a routine! value names one
// by its 1-based index.
using entry = void (*)();
int32_t register_entry(entry f);
entry entry_at(int32_t index);
kiv_value* push(const kiv_value* spec, const kiv_value* body, int32_t code, int32_t extra, bool flavour);
inline uint32_t argument_count(const kiv_value* r) { return (r->header >> 25) & 31; }
}  // namespace routine

}  // namespace kiv
