#pragma once
// triple!: three signed integers in one cell, for the PARSE stacks.

namespace kiv::triple {
void init();
}  // namespace kiv::triple
