#pragma once
// The GTK backend's routines in `system/view/platform`.
#include "runtime/value.h"

namespace kiv::gui {

// Binds the backend's routines in place of the stand-ins of
// `system/view/platform` and of `send-event-os` (see view/backend.h).
void install_backend();

}  // namespace kiv::gui
