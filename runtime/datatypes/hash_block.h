#pragma once
// hash!: a block whose values are indexed by a hash table (kind hash) for
// fast find and select. Cell: a block cell whose fourth word is the table's
// node. Every block action applies; those that change the values keep the
// index in step.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::hash_block {

// Indexes a block value in place, turning it into a hash!.
kiv_value* index(kiv_value* blk);

void init();

}  // namespace kiv::hash_block
