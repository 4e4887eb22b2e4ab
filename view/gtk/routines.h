#pragma once
// The GTK backend's routines in `system/view/platform`.
#include "runtime/value.h"

namespace kiv::gui {

// Replaces every routine field of the platform object that the backend
// implements by its routine.
void bind_platform(kiv_value* platform);
// Binds them into `system/view/platform` when the GUI's Kiv layer made it.
void install_backend();

}  // namespace kiv::gui
