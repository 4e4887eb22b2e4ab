#pragma once
// The tab-panel face of the GTK backend.
#include <cstdint>

namespace kiv::gui {

// Makes the tabs of a new tab-panel from `data` and selects `selected`.
void setup_tabs(uint32_t index);
// Applies changed facets (bits by facet index): `data`, `selected`, `size`.
void apply_tabs(uint32_t index, uint32_t bits);

}  // namespace kiv::gui
