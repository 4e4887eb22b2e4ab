#pragma once
// Runtime state seen from Kiv code: `system/words`, the global context as an
// object, and `system/state/GC`, whose routines report the collector's state.
namespace kiv::system_words {
// Builds `system/words` and stores it in the global context's owner slot.
void init();
}  // namespace kiv::system_words

namespace kiv::gc_state {
// Binds the routines of `system/state/GC` to the collector's figures.
void init();
}  // namespace kiv::gc_state
