// Key tables of the event translation.
#include "view/gtk/keys.h"

#include <gdk/gdk.h>

#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

struct key_name {
    uint32_t keyval;
    const char* name;
};

constexpr key_name SPECIAL_KEYS[] = {
    {GDK_KEY_Page_Up, "page-up"}, {GDK_KEY_KP_Page_Up, "page-up"}, {GDK_KEY_Page_Down, "page-down"},
    {GDK_KEY_KP_Page_Down, "page-down"}, {GDK_KEY_End, "end"}, {GDK_KEY_KP_End, "end"}, {GDK_KEY_Home, "home"},
    {GDK_KEY_KP_Home, "home"}, {GDK_KEY_Left, "left"}, {GDK_KEY_KP_Left, "left"}, {GDK_KEY_Up, "up"},
    {GDK_KEY_KP_Up, "up"}, {GDK_KEY_Right, "right"}, {GDK_KEY_KP_Right, "right"}, {GDK_KEY_Down, "down"},
    {GDK_KEY_KP_Down, "down"}, {GDK_KEY_Insert, "insert"}, {GDK_KEY_KP_Insert, "insert"},
    {GDK_KEY_Delete, "delete"}, {GDK_KEY_KP_Delete, "delete"}, {GDK_KEY_F1, "F1"}, {GDK_KEY_F2, "F2"},
    {GDK_KEY_F3, "F3"}, {GDK_KEY_F4, "F4"}, {GDK_KEY_F5, "F5"}, {GDK_KEY_F6, "F6"}, {GDK_KEY_F7, "F7"},
    {GDK_KEY_F8, "F8"}, {GDK_KEY_F9, "F9"}, {GDK_KEY_F10, "F10"}, {GDK_KEY_F11, "F11"}, {GDK_KEY_F12, "F12"},
    {GDK_KEY_Caps_Lock, "caps-lock"}, {GDK_KEY_Num_Lock, "num-lock"}, {GDK_KEY_Scroll_Lock, "scroll-lock"},
    {GDK_KEY_Pause, "pause"}, {GDK_KEY_Control_L, "left-control"}, {GDK_KEY_Control_R, "right-control"},
    {GDK_KEY_Alt_L, "left-alt"}, {GDK_KEY_Alt_R, "right-alt"}, {GDK_KEY_Meta_L, "left-alt"},
    {GDK_KEY_Meta_R, "right-alt"}, {GDK_KEY_ISO_Level3_Shift, "right-alt"}, {GDK_KEY_Super_L, "left-command"},
    {GDK_KEY_Super_R, "right-command"}, {GDK_KEY_Shift_L, "left-shift"}, {GDK_KEY_Shift_R, "right-shift"},
};

}  // namespace

const char* special_key_name(uint32_t keyval) {
    for (const key_name& k : SPECIAL_KEYS)
        if (k.keyval == keyval) return k.name;
    return nullptr;
}

bool modifier_key_q(uint32_t keyval) {
    switch (keyval) {
        case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: case GDK_KEY_Control_L: case GDK_KEY_Control_R:
        case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: case GDK_KEY_Meta_L: case GDK_KEY_Meta_R:
        case GDK_KEY_Super_L: case GDK_KEY_Super_R: case GDK_KEY_ISO_Level3_Shift:
            return true;
        default:
            return false;
    }
}

uint32_t typed_control_char(uint32_t keyval) {
    switch (keyval) {
        case GDK_KEY_BackSpace: return 8;
        case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: case GDK_KEY_KP_Tab: return 9;
        case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter: return 13;
        case GDK_KEY_Escape: return 27;
        default: return 0;
    }
}

uint32_t key_down_char(uint32_t keyval, uint32_t unicode) {
    if (uint32_t c = typed_control_char(keyval)) return c;
    if (unicode >= 'a' && unicode <= 'z') return unicode - 32;
    return unicode;
}

uint32_t control_char(uint32_t keyval) {
    uint32_t lower = gdk_keyval_to_lower(keyval);
    if (lower >= GDK_KEY_a && lower <= GDK_KEY_z) return lower - GDK_KEY_a + 1;
    return 0;
}

uint32_t modifier_flags(uint32_t state) {
    uint32_t flags = 0;
    if (state & GDK_CONTROL_MASK) flags |= EF_CONTROL;
    if (state & GDK_SHIFT_MASK) flags |= EF_SHIFT;
    if (state & GDK_MOD1_MASK) flags |= EF_ALT;
    if (state & GDK_BUTTON1_MASK) flags |= EF_DOWN;
    if (state & GDK_BUTTON2_MASK) flags |= EF_MID_DOWN;
    if (state & GDK_BUTTON3_MASK) flags |= EF_ALT_DOWN;
    return flags;
}

uint32_t own_modifier_flag(uint32_t keyval) {
    switch (keyval) {
        case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return EF_SHIFT;
        case GDK_KEY_Control_L: case GDK_KEY_Control_R: return EF_CONTROL;
        case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: case GDK_KEY_Meta_L: case GDK_KEY_Meta_R: return EF_ALT;
        default: return 0;
    }
}

}  // namespace kiv::gui
