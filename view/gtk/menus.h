#pragma once
// Window menu bars and context menus of the GTK backend.
#include <cstdint>

#include "view/gtk/gui.h"

namespace kiv::gui {

// Told of each entry of a menu block as it is built: its number in its
// menu, whether it is a separator, and its word's symbol (-1 for none).
using menu_entry_fn = void (*)(int32_t number, bool separator, int32_t symbol);

// Fills `shell` (null: only walks the block) from a menu block; answers
// the number of entries of the top menu. Labels are strings; a block after
// a label is its sub-menu and a word its identifier; `---` separates;
// anything else is skipped.
int32_t build_menu(GtkMenuShell* shell, kiv_value* menu, uint32_t index, bool context, menu_entry_fn entry);
// Whether a `menu` facet is a window's menu bar: a non-empty block that
// does not start with `popup`.
bool menu_bar_q(kiv_value* menu, face_kind kind);
// A window's menu bar made again from its `menu` facet.
void apply_menu(uint32_t index);
// The height of a window's menu bar in device pixels, 0 without one: the
// window is that much taller than its client area, the face's size.
int menu_bar_height(uint32_t index);
// Shows the face's context menu at the pointer; false when it has none.
// x, y: the click inside the face in device pixels, for the event.
bool show_context_menu(uint32_t index, const GdkEventButton* ev, double x, double y);
// The face's view goes: its context menu with it.
void forget_menus(uint32_t index);

}  // namespace kiv::gui
