#pragma once
// The seam between the GUI's Kiv layer and a native backend loaded on
// first use. At start-up every backend placeholder (a function of
// `system/view/platform`, or a global such as `send-event-os`, whose body
// only answers no-display) is replaced by a stand-in routine with the same spec.
// The first stand-in called loads the backend module, whose entry binds its
// routines through `provide`; the stand-in then hands its call on.
#include <cstddef>

#include "runtime/value.h"

namespace kiv::backend {

struct routine_def {
    const char* name;
    const char* spec;
    void (*code)();
};

// Puts the stand-ins in place (start-up).
void install();
// Binds routines in place of the stand-ins of the same names: platform
// fields, or global words with `global`. Fields that Kiv code has replaced
// meanwhile keep their value.
void provide(const routine_def* defs, size_t count, bool global);
// Loads the backend now; false when it cannot be had.
bool load();

}  // namespace kiv::backend
