#pragma once
// Runtime initialisation: every table of the runtime, built in a fixed order.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::runtime {

// The root block: everything the runtime keeps alive without another owner.
extern kiv_value root;
constexpr uint32_t ROOT_CELLS = 10016;

// 1 while words created by name must be anchored in the root block.
extern bool boot_loading;

// Builds every table; with boot data (null for the builder of the boot
// data itself), loads it into the root block.
void init(const uint8_t* boot_data, uint64_t boot_size);
// Releases every frame and every tracked heap block (not called on exit).
void cleanup();

}  // namespace kiv::runtime

namespace kiv::collector {
// The collector never runs until start-up switches it on.
extern bool active_q;
// True while a collection runs.
extern bool running_q;
// Collections that evacuated node frames: tables keyed by node are stale
// when their stamp is not this count + 1.
extern uint32_t nodes_cycles;
}  // namespace kiv::collector
