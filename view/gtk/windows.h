#pragma once
// Base faces and windows of the GTK backend: image painting, translucency
// and mouse cursors.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::gui {

// Connects a new face's painting and cursor upkeep.
void setup_base(uint32_t index);
// Applies changed facets (bits by facet index): `image`, `options`.
void apply_base(uint32_t index, uint32_t bits);
// The alpha a window's colour is painted with: as given where a compositor
// blends windows, else 1 (opaque). Other faces keep theirs.
double window_alpha(uint32_t index, double alpha);
// A caret face: its `caret` option names the face it is the caret of. It
// shows only while it is enabled.
bool caret_face_q(kiv_value* face);
// The cursor name of a `cursor` option word; "default" for any other word.
const char* cursor_name(const char* word);

}  // namespace kiv::gui
