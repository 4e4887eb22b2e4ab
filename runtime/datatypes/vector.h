#pragma once
// vector!: packed numbers of one element type without value cells. The cell
// is {header, head (in elements), node, element type id}; the element width
// is the series unit: 1, 2 or 4 bytes for char! and integer!, 4 or 8 for
// float!, 8 for percent!. Integer and char elements read as signed values of
// their width and are stored truncated to it.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::vector {

inline uint32_t element_type_of(const kiv_value* v) { return v->data3; }
// True when a width in bytes suits an element type.
bool width_q(uint32_t type, uint32_t width);

// A new vector of `count` zero elements (room for at least one).
kiv_value* make_at(kiv_value* cell, uint32_t count, uint32_t type, uint32_t width);
// Elements from the head.
uint32_t ks_length_q(kiv_value* v);
// The element at an index from the buffer's first element, as a value.
kiv_value* push_element(const kiv_value* v, uint32_t index);
// Stores a number converted to the element type at an index from the
// buffer's first element.
void set_element(kiv_value* v, uint32_t index, const kiv_value* value);
// A block with one value per element from the head.
kiv_value* to_block(kiv_value* v);

// Arithmetic of the current call with a vector on the right of a number:
// the operands keep their sides.
void do_math(int32_t op);

void init();

}  // namespace kiv::vector
