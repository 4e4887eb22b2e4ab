#pragma once
// Keys of GDK as the events see them: the word of a special key, the
// character of a character key, the modifier bits.
#include <cstdint>

namespace kiv::gui {

// The word of a key that has one (F5 "F5", Left "left", Shift_L
// "left-shift" ...), null for a character key.
const char* special_key_name(uint32_t keyval);
// Modifier keys (Shift, Control, Alt, Super on either side): they give
// `key-down` and `key-up` only.
bool modifier_key_q(uint32_t keyval);
// The character a non-special key stands for in `key-down` and `key-up`:
// letters upper case, control keys their code (Backspace 8, Tab 9, Enter
// 13, Escape 27), 0 when it has none.
uint32_t key_down_char(uint32_t keyval, uint32_t unicode);
// The `key` character typed with Control held: a letter gives its code 1-26;
// 0 when Control makes nothing of it.
uint32_t control_char(uint32_t keyval);
// The control character a key types by itself (Backspace, Tab, Enter,
// Escape), 0 for others: input methods do not commit them.
uint32_t typed_control_char(uint32_t keyval);
// Event flag bits of a GDK modifier state.
uint32_t modifier_flags(uint32_t state);
// The modifier bit a modifier key itself adds (or, released, removes).
uint32_t own_modifier_flag(uint32_t keyval);

}  // namespace kiv::gui
