#pragma once
// Runtime initialisation: every table of the runtime, built in a fixed order.
#include "runtime/value.h"

namespace kiv::runtime {

// The root block: everything the runtime keeps alive without another owner.
extern kiv_value root;
constexpr uint32_t ROOT_CELLS = 10016;

// 1 while words created by name must be anchored in the root block.
extern bool boot_loading;

void init();
// Releases every frame and every tracked heap block (not called on exit).
void cleanup();

}  // namespace kiv::runtime

namespace kiv::collector {
// The collector never runs until start-up switches it on.
extern bool active_q;
}  // namespace kiv::collector
