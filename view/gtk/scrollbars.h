#pragma once
// Scroll bars of faces flagged `scrollable`: a vertical bar along the right
// edge and a horizontal one along the bottom, over the face's own drawing.
// Their range, page and position come from `scroller!` objects (the face's
// program sets them); using a bar raises a `scroll` event and moves nothing
// by itself, so the program decides where the view goes.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::gui {

// Gives a scrollable face's view its bars (nothing for other faces).
void attach_scrollbars(uint32_t index);
// Lays the bars along the edges of a face w x h device pixels large.
void place_scrollbars(uint32_t index, int w, int h);
// A field of a scroller object changed: field 0 position, 1 page-size,
// 3 max-size, 4 visible?; other fields change nothing.
void update_scroller(kiv_value* scroller, int32_t field);

}  // namespace kiv::gui
