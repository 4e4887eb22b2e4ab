#pragma once
// The two general sorts over arrays of fixed-size records (groups of value
// cells for blocks, code units for strings), ordered by a callback the caller
// supplies: `with_buffer`, a stable natural merge sort with a work buffer of
// half the array, and `in_place`, an unstable quicksort that needs no memory
// beyond its recursion and finishes presorted input in linear time.
//
// The callback may run Kiv code, which can allocate or raise an error (a
// kiv_exit thrown through the sort). Both sorts address records by index,
// bound every scan by indexes rather than by what the callback answers, and
// move records only by whole swaps or copies that are complete before the next
// call: an error in the middle of a sort leaves the array holding the same
// records in some order, and nothing leaks. A callback that contradicts itself
// gets some permutation back, never an access outside the array.
//
// While `with_buffer` calls the callback, up to count / 2 records may exist
// only in its work buffer (a std::vector, out of the collector's sight): a
// caller whose records hold collectable references keeps them reachable
// another way while a callback can collect.
#include <cstdint>

namespace kiv::sort {

// Answers negative when record a belongs before record b, zero when they are
// equal, positive when a belongs after b. arg1 and arg2 are passed through
// unchanged from the sort's caller (comparison flags, the /compare argument).
using compare_fn = int32_t (*)(const void* a, const void* b, intptr_t arg1, intptr_t arg2);

// Stable sort of count records of width bytes at base. Raises script
// `too-long` when the work buffer's size does not fit in 32 bits and internal
// `no-memory` when it cannot be allocated. Fewer than two records (or a width
// of 0) return at once without calling the callback or allocating.
void with_buffer(void* base, uint32_t count, uint32_t width, intptr_t arg1, intptr_t arg2,
                 compare_fn compare);

// Unstable sort of count records of width bytes at base. Already sorted and
// reversed input take one pass; a sorted prefix of nearly sorted input seeds
// the quicksort's pivots; the worst case stays O(n log n). Fails only when the
// callback raises an error (or the native stack runs out).
void in_place(void* base, uint32_t count, uint32_t width, intptr_t arg1, intptr_t arg2,
              compare_fn compare);

}  // namespace kiv::sort
