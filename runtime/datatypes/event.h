#pragma once
// event!: how Kiv code sees a GUI event. Every field is read by path or by
// `pick`; only `type` can be set. Two events are always equal.
//
// Cell: {header, type id, value block node, flags}.
// - The type id is 1-35 (see `type_id`), 0 for a made event given no type.
// - The flags word holds the modifier and button bits (FLAG_*) in its high
//   bits and a key code point or a per-type payload in its low 21 bits.
// - Payload word 2 is 0 or the node of the event's value block: face,
//   window, offset, picked, key and orientation, in that order (VALUE_*).
//   Unset entries read as their defaults.
// - The header bit MADE marks an event made by `make event!`. It sits in the
//   header, apart from the flags, so that a key code point above U+FFFF can
//   never be mistaken for it.
//
// A backend makes its events with `make_at` or `push` from an `event::fields`
// record and hands them to `system/view/awake`.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::event {

enum type_id : uint32_t {
    DOWN = 1, UP, MID_DOWN, MID_UP, ALT_DOWN, ALT_UP, AUX_DOWN, AUX_UP, CLICK, DBL_CLICK,
    WHEEL, OVER, KEY, KEY_DOWN, KEY_UP, IME, FOCUS, UNFOCUS, ENTER, ZOOM, PAN, ROTATE,
    TWO_TAP, PRESS_TAP, SELECT, CHANGE, MENU, CLOSE, MOVE, RESIZE, MOVING, RESIZING, TIME,
    DRAWING, SCROLL,
};
constexpr uint32_t TYPE_COUNT_ = 35;

// Bits of the flags word.
constexpr uint32_t KEY_MASK = 0x001FFFFF;  // key code point or payload
constexpr uint32_t FLAG_AUX_DOWN = 0x00400000;
constexpr uint32_t FLAG_ALT_DOWN = 0x00800000;
constexpr uint32_t FLAG_MID_DOWN = 0x01000000;
constexpr uint32_t FLAG_DOWN = 0x02000000;
constexpr uint32_t FLAG_AWAY = 0x04000000;
constexpr uint32_t FLAG_CONTROL = 0x10000000;
constexpr uint32_t FLAG_SHIFT = 0x20000000;
constexpr uint32_t FLAG_ALT = 0x40000000;
constexpr uint32_t FLAG_COMMAND = 0x80000000;

// Header bit of a made event.
constexpr uint32_t MADE = 0x00010000;

// Positions in the value block.
enum value_index : uint32_t {
    VALUE_FACE = 0, VALUE_WINDOW, VALUE_OFFSET, VALUE_PICKED, VALUE_KEY, VALUE_ORIENTATION,
    VALUE_COUNT,
};

// Field indexes of paths and `pick`.
enum field : int32_t {
    FIELD_TYPE = 1, FIELD_FACE, FIELD_WINDOW, FIELD_OFFSET, FIELD_KEY, FIELD_PICKED, FIELD_FLAGS,
    FIELD_AWAY_Q, FIELD_DOWN_Q, FIELD_MID_DOWN_Q, FIELD_ALT_DOWN_Q, FIELD_AUX_DOWN_Q,
    FIELD_CTRL_Q, FIELD_SHIFT_Q, FIELD_ORIENTATION,
};

// What a backend knows of an event. Values left unset read as: face and
// window none, offset none, picked none, key the character of the flags'
// code point for a made event (none otherwise), orientation none. `key` is
// a char! or a key word; `offset` a point2D! or pair!.
struct fields {
    uint32_t type = 0;
    uint32_t flags = 0;
    kiv_value face{TYPE_UNSET, 0, 0, 0};
    kiv_value window{TYPE_UNSET, 0, 0, 0};
    kiv_value offset{TYPE_UNSET, 0, 0, 0};
    kiv_value picked{TYPE_UNSET, 0, 0, 0};
    kiv_value key{TYPE_UNSET, 0, 0, 0};
    kiv_value orientation{TYPE_UNSET, 0, 0, 0};
};

kiv_value* make_at(kiv_value* cell, const fields& f);
kiv_value* push(const fields& f);
kiv_value* push_copy(const kiv_value* event);  // the cell as it is (`event/push`)

// The name of a type id ("down" ...), null outside 1-35; the type id of a
// symbol, 0 when it names no event type.
const char* type_name(uint32_t id);
uint32_t type_of_symbol(int32_t symbol);
// The field index of a symbol, -1 when it names no field.
int32_t field_of_symbol(int32_t symbol);

// Pushes the value of a field (FIELD_*) of the event.
kiv_value* read_field(const kiv_value* event, int32_t field);

void init();

}  // namespace kiv::event
