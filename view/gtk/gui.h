#pragma once
// The GTK 3 backend behind `system/view/platform`: native views of faces,
// the event loop and the translation of GDK input into events.
//
// A face's native view is a record of this backend; Kiv code sees it as a
// `handle!` of the window class whose value is the record's 1-based index
// (a cell never holds a native pointer). The face itself is kept alive in
// the value slot pool for as long as its view exists.
#include <cstdint>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "runtime/value.h"
#include "view/convert.h"

namespace kiv::gui {

// Facets by position in the face template.
enum facet : uint32_t {
    FACET_TYPE = 0, FACET_OFFSET, FACET_SIZE, FACET_TEXT, FACET_IMAGE, FACET_COLOR, FACET_MENU, FACET_DATA,
    FACET_ENABLED_Q, FACET_VISIBLE_Q, FACET_SELECTED, FACET_FLAGS, FACET_OPTIONS, FACET_PARENT, FACET_PANE,
    FACET_STATE, FACET_RATE, FACET_EDGE, FACET_PARA, FACET_FONT, FACET_ACTORS, FACET_EXTRA, FACET_DRAW,
    FACET_COUNT_
};

// Handle classes of `handle!` values.
enum handle_class : uint32_t { HANDLE_NULL = 0, HANDLE_FD, HANDLE_MONITOR, HANDLE_WINDOW };


// Event modifier and button bits (the flags word of an event).
enum event_flag : uint32_t {
    EF_AUX_DOWN = 0x00400000, EF_ALT_DOWN = 0x00800000, EF_MID_DOWN = 0x01000000, EF_DOWN = 0x02000000,
    EF_AWAY = 0x04000000, EF_CONTROL = 0x10000000, EF_SHIFT = 0x20000000, EF_ALT = 0x40000000,
};

// The face types the backend knows, in the order of the factory table.
enum face_kind : uint32_t {
    K_WINDOW, K_PANEL, K_GROUP_BOX, K_TAB_PANEL, K_BASE, K_RICH_TEXT, K_CAMERA, K_TEXT, K_BUTTON, K_TOGGLE,
    K_CHECK, K_RADIO, K_FIELD, K_AREA, K_TEXT_LIST, K_DROP_DOWN, K_DROP_LIST, K_PROGRESS, K_SLIDER,
    K_SCROLLER, K_CALENDAR, K_KIND_COUNT_
};

// A face's native view.
struct view {
    face_kind kind;
    GtkWidget* widget = nullptr;  // the face's own widget (a GtkWindow for a window)
    GtkWidget* box = nullptr;     // where its pane's views live (a KivBox), null for leaf widgets
    uint32_t face_slot = 0;       // the face in the value slot pool
    uint32_t parent = 0;          // the view it was made in (0 for a window)
    uint32_t flags = 0;           // face flag bits
    bool size_is_pair = false;
    guint timer = 0;
    int last_x = 0, last_y = 0, last_w = -1, last_h = -1;  // window geometry seen last
    GtkIMContext* im = nullptr;   // windows: the input method
    GtkWidget* bars[2] = {nullptr, nullptr};  // scrollable faces: vertical, horizontal scroll bar
    int face_w = 0, face_h = 0;   // scrollable faces: the size the bars were laid along
};

// Views by 1-based index; 0 is no view.
view* view_at(uint32_t index);
uint32_t view_of_widget(GtkWidget* w);  // the face view owning the widget, 0 for none
kiv_value* face_of(uint32_t index);     // valid until the next allocation
kiv_value* facet(kiv_value* face, uint32_t index);
// The view index held by a face's `state` block, 0 for none.
uint32_t view_of_face(const kiv_value* face);

// Start-up ------------------------------------------------------------------
// Opens the display; false (and nothing else changes) when there is none.
bool init();
bool active_q();
double dpi_factor();  // logical to device pixels, on top of GDK's own scale
// From logical to device pixels: truncate(v * factor + 0.5).
int scale(double logical);
double unscale(double device);
struct screen_info {
    int x, y, width, height;  // device pixels
    double factor;
    uint32_t handle;          // 1-based monitor number
};
std::vector<screen_info> fetch_all_screens();
uint32_t current_screen();  // the monitor under the pointer, 1-based
screen_info screen_size(uint32_t id);
const char* default_font_name();
int default_font_size();
const char* fixed_font_name();
// A fatal error: a dialog when a display is open, stderr always.
void show_error_box(const char* caption, const char* text);

// The event loop ------------------------------------------------------------
bool do_events(bool no_wait);
void exit_event_loop();
int loop_depth();
int pending_exits();
// Called when a window is destroyed with `empty?`: the loop serving it ends.
void count_closed_loop();

// Raising an event: fills the event from the view and calls
// `system/view/awake` in a frame that catches every error and throw.
// Returns true when the handlers answered `stop` (the input is consumed).
struct event_args {
    uint32_t type = 0;
    uint32_t flags = 0;
    bool has_offset = false;
    double x = 0, y = 0;           // device pixels inside the view
    kiv_value key{0, 0, 0, 0};     // a char! or key word; type 0 when none
    kiv_value picked{0, 0, 0, 0};  // type 0 when none
    kiv_value orientation{0, 0, 0, 0};
};
bool raise(uint32_t view_index, const event_args& e);
// Builds the event value itself (an event! on the argument stack).
kiv_value* push_event(uint32_t view_index, const event_args& e);

// Input translation: signal handlers of every face widget.
void connect_input(uint32_t index);
// `send-event-os`: the event given to the translation as if it came from
// the system (queued: later, from the loop). False without a live view.
bool send_event(uint32_t index, uint32_t type, uint32_t flags, double x, double y, int32_t steps, bool queued);

// Faces ---------------------------------------------------------------------
uint32_t make_view(kiv_value* face, uint32_t parent);  // the view index
void destroy_view(kiv_value* face, bool empty);
void update_view(kiv_value* face);
void update_views(kiv_value* faces);
void update_facet(kiv_value* owner, kiv_value* word, kiv_value* value, kiv_value* action, kiv_value* new_value,
                  int32_t index, int32_t part);
void show_window(uint32_t index);
// The text typed into a field, area or drop-down, back into `text`.
void read_back_text(kiv_value* face);
// The face's text drawn again in its font and para (one of them changed).
void refresh_text(kiv_value* face);
void redraw(uint32_t index);
void refresh_window(uint32_t index);
// The text's extent in the face's font, in logical pixels.
void text_size(kiv_value* face, kiv_value* text, double* width, double* height);
// The face's view drawn into a new image surface (null without a view).
cairo_surface_t* face_to_surface(kiv_value* face);
// A face timer: every period in ms (clamped), 0 stops it.
void set_timer(uint32_t index, const kiv_value* rate);
std::string text_of(kiv_value* v);  // UTF-8 of a string!, "" otherwise

}  // namespace kiv::gui
