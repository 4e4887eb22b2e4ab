// The event! value of a backend event: its face, window, offset and key
// worked out once, when the event is raised.
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/point.h"
#include "runtime/slots.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

bool has_value(const kiv_value& v) { return type_of(&v) != 0; }

// Types whose `picked` is the flags' payload as a signed 16-bit integer.
bool payload_picked_q(uint32_t type) {
    switch (type) {
        case ev::DOWN: case ev::MID_DOWN: case ev::ALT_DOWN: case ev::AUX_DOWN: case ev::DBL_CLICK: case ev::WHEEL:
            return false;
        default:
            return true;
    }
}

}  // namespace

kiv_value* push_event(uint32_t index, const event_args& e) {
    event::fields f;
    f.type = e.type;
    f.flags = e.flags;
    if (kiv_value* face = face_of(index)) f.face = *face;
    if (kiv_value* window = face_of(window_of(index))) f.window = *window;
    if (e.has_offset) point::make_at(&f.offset, TYPE_POINT2D, unscale(e.x), unscale(e.y));
    if (has_value(e.key)) f.key = e.key;
    if (has_value(e.picked)) f.picked = e.picked;
    else if (payload_picked_q(e.type)) integer::make_at(&f.picked, int16_t(e.flags & 0xFFFF));
    if (has_value(e.orientation)) f.orientation = e.orientation;
    return event::push(f);
}

}  // namespace kiv::gui
