#pragma once
// Native widgets of the GTK backend: filling them from facets and raising
// the events of user changes.
#include <cstdint>

namespace kiv::gui {

// Connects a new face's widget signals and fills it from its facets.
void setup_widget(uint32_t index);
// Applies the changed facets (bits by facet index) that a widget shows.
void apply_widget(uint32_t index, uint32_t bits);
// True while the backend itself is changing a widget.
bool widget_quiet();
// While one lives, widget changes raise no event.
struct quiet_scope {
    quiet_scope();
    ~quiet_scope();
};

// A calendar shows years 1601 .. 9999 only.
int32_t calendar_year(int32_t year);
// A date without time or zone, packed as date! keeps it.
uint32_t calendar_packed(int32_t year, int32_t month, int32_t day);

}  // namespace kiv::gui
