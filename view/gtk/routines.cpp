// The platform routines of the GTK backend: thin adapters that read their
// arguments from the current call, call the backend and leave the result in
// the first argument cell.
#include "view/gtk/routines.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "runtime/boot.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "view/gtk/clipboard.h"
#include "view/gtk/dialogs.h"
#include "view/gtk/draw_cairo.h"
#include "view/gtk/events.h"
#include "view/gtk/face_paint.h"
#include "view/gtk/scrollbars.h"
#include "view/gtk/gui.h"
#include "view/backend.h"
#include "view/gtk/text_box.h"

namespace kiv::gui {

namespace {

kiv_value* arg(int n) { return stack::arguments + n; }

void return_handle(uint32_t value, uint32_t klass) {
    *stack::arguments = kiv_value{TYPE_HANDLE, klass, value, 0xFFFFFFFF};
}

uint32_t handle_value(const kiv_value* h) { return type_of(h) == TYPE_HANDLE ? h->data2 : 0; }

bool type_word_q(kiv_value* face, const char* name) {
    kiv_value* t = facet(face, FACET_TYPE);
    return any_word_q(type_of(t)) && strcasecmp(symbol::name_of(word::symbol_of(t)), name) == 0;
}

// Every routine needs the display; the first one called opens it.
void require_display() {
    if (!init()) fire(err::SCRIPT, err::script::no_display);
}

template <void (*Routine)()>
void with_display() {
    require_display();
    Routine();
}

void make_null_handle() { return_handle(0, HANDLE_NULL); }

void fetch_all_screens_routine() {
    std::vector<screen_info> screens = fetch_all_screens();
    kiv_value* result = block::make_at(stack::push(), int32_t(screens.size()));
    for (const screen_info& s : screens) {
        kiv_value* entry = block::make_in(result, 4);
        pair::make_in(entry, s.x, s.y);
        pair::make_in(entry, s.width, s.height);
        float_::make_in(entry, s.factor);
        integer::make_in(entry, int32_t(s.handle));
    }
    stack::set_last(result);
}

// Displays are named by their number from 1: the GUI layer compares them.
void get_current_screen_routine() { integer::return_(int32_t(current_screen())); }

void get_screen_size() {
    screen_info s = screen_size(uint32_t(integer::get_value(arg(0))));
    pair::make_at(stack::arguments, int32_t(unscale(s.width)), int32_t(unscale(s.height)));
}

void size_text() {
    kiv_value face = *arg(0), value = *arg(1);
    kiv_value text = value;
    if (type_of(&value) == TYPE_NONE) text = *facet(&face, FACET_TEXT);
    else if (type_of(&value) != TYPE_STRING) actions::fire_expect_arg(type_of(&value), 1);
    if (type_of(&text) != TYPE_STRING) {
        *stack::arguments = none_value;
        return;
    }
    double w = 0, h = 0;
    text_size(&face, &text, &w, &h);
    point::make_at(stack::arguments, TYPE_POINT2D, w, h);
}

void on_change_facet() {
    update_facet(arg(0), arg(1), arg(2), arg(3), type_of(arg(4)) == TYPE_NONE ? nullptr : arg(4),
                 integer::get_value(arg(5)), integer::get_value(arg(6)));
    *stack::arguments = none_value;
}

// The text a user typed into a control, back into the face's `text`.
void update_text() {
    kiv_value face = *arg(0);
    read_back_text(&face);
    *stack::arguments = none_value;
}

void update_font() {
    kiv_value font = *arg(0);
    kiv_value users = object::words_count(&font) > 8 ? object::get_values(&font)[8] : none_value;
    if (type_of(&users) == TYPE_BLOCK)
        for (int32_t i = 0; i < block::ks_length_q(&users); i++) refresh_text(block::ks_head(&users) + i);
    *stack::arguments = none_value;
}

void update_para() {
    kiv_value face = *arg(0);
    refresh_text(&face);
    *stack::arguments = none_value;
}

void destroy_view_routine() {
    kiv_value face = *arg(0);
    destroy_view(&face, logic::truthy(arg(1)));
    *stack::arguments = none_value;
}

void nothing() { *stack::arguments = none_value; }

void update_view_routine() {
    kiv_value target = *arg(0);
    if (type_of(&target) == TYPE_BLOCK) {
        for (int32_t i = 0; i < block::ks_length_q(&target); i++) {
            kiv_value* v = block::ks_head(&target) + i;
            if (type_of(v) != TYPE_OBJECT) actions::fire_expect_arg(type_of(v), 0);
        }
        update_views(&target);
    } else if (type_of(&target) == TYPE_OBJECT) {
        if (!type_word_q(&target, "screen")) update_view(&target);
    } else {
        actions::fire_expect_arg(type_of(&target), 0);
    }
    *stack::arguments = none_value;
}

// A rich-text face that is not shown is only measured: its layout is made
// again at its next query, with or without a display.
void update_view_or_layout() {
    if (type_of(arg(0)) == TYPE_OBJECT && type_word_q(arg(0), "rich-text") && !view_of_face(arg(0))) {
        text_box::relayout_later(arg(0));
        *stack::arguments = none_value;
        return;
    }
    with_display<update_view_routine>();
}

void refresh_window_routine() {
    refresh_window(handle_value(arg(0)));
    *stack::arguments = none_value;
}

void redraw_routine() {
    if (uint32_t index = view_of_face(arg(0))) redraw(index);
    *stack::arguments = none_value;
}

void show_window_routine() {
    show_window(handle_value(arg(0)));
    *stack::arguments = none_value;
}

void make_view_routine() {
    kiv_value face = *arg(0);
    uint32_t index = make_view(&face, handle_value(arg(1)));
    return_handle(index, HANDLE_WINDOW);
}

void update_scroller_routine() {
    kiv_value scroller = *arg(0);
    update_scroller(&scroller, integer::get_value(arg(1)));
    *stack::arguments = none_value;
}

void draw_face_routine() {
    draw_face(arg(0), arg(1));
    *stack::arguments = none_value;
}

// Renders a draw block into an image, with or without a display: the
// pixels go premultiplied to a cairo surface and come back straight. The
// owner hears of it as of a poke of the whole image.
void draw_image_routine() {
    kiv_value img = *arg(0), cmds = *arg(1);
    *stack::arguments = none_value;
    if (type_of(&img) != TYPE_IMAGE) return;
    uint32_t w = image::width_of(&img), h = image::height_of(&img);
    if (w == 0 || h == 0) return;
    kiv_value silent = none_value;
    if (kiv_value* view = boot::field(boot::system_object(), "view"); view && type_of(view) == TYPE_OBJECT)
        if (kiv_value* s = boot::field(view, "silent?")) silent = *s;
    bool owned = img.header & ownership::IMAGE_OWNED;
    kiv_value target = img, told = img;
    bool notified = owned && ownership::check(&target, symbol::make("poke"), &told, -1, -1);
    uint64_t count = uint64_t(w) * h;
    std::vector<uint32_t> surface_pixels(count);
    uint32_t* pixels = image::lock(&img, true);
    image::premultiply(pixels, surface_pixels.data(), count);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(surface_pixels.data()), CAIRO_FORMAT_ARGB32, int(w), int(h), int(w * 4));
    cairo_t* cr = cairo_create(surface);
    struct done {
        const kiv_value* img;
        cairo_t* cr;
        cairo_surface_t* surface;
        std::vector<uint32_t>& from;
        uint32_t* to;
        uint64_t count;
        ~done() {
            cairo_destroy(cr);
            cairo_surface_flush(surface);
            cairo_surface_destroy(surface);
            image::unpremultiply(from.data(), to, count);
            image::unlock(img);
        }
    };
    {
        done finish{&img, cr, surface, surface_pixels, pixels, count};
        draw::cairo_context ctx(cr);
        ctx.drawing_on(&img, surface);
        draw::run(ctx, &cmds, logic::truthy(&silent), false);
    }
    if (notified) ownership::check(&target, symbol::make("poked"), &told, -1, -1);
}

void do_event_loop() { logic::box(do_events(logic::truthy(arg(0)))); }

void exit_event_loop_routine() {
    exit_event_loop();
    *stack::arguments = none_value;
}


void set_dark_mode() {
    if (active_q())
        g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", logic::truthy(arg(1)), nullptr);
    *stack::arguments = none_value;
}

void support_dark_mode_q() { logic::box(active_q()); }

// Milliseconds between two changes of a blinking caret: half of the
// toolkit's blink cycle; -1 when the caret does not blink, 0 when the
// toolkit cannot say.
void get_caret_blink_time() {
    GtkSettings* settings = init() ? gtk_settings_get_default() : nullptr;
    int32_t ms = 0;
    if (settings) {
        gboolean blink = TRUE;
        gint cycle = 0;
        g_object_get(settings, "gtk-cursor-blink", &blink, "gtk-cursor-blink-time", &cycle, nullptr);
        ms = !blink ? -1 : cycle > 0 ? std::max(1, cycle / 2) : 0;
    }
    integer::return_(ms);
}

// An event! given back to the backend as if the system had raised it.
void send_event_os() {
    kiv_value e = *arg(0);
    bool queued = logic::truthy(arg(1));
    kiv_value* top = stack::top;
    kiv_value face = *event::read_field(&e, event::FIELD_FACE);
    kiv_value offset = *event::read_field(&e, event::FIELD_OFFSET);
    kiv_value picked = *event::read_field(&e, event::FIELD_PICKED);
    stack::top = top;
    double x = 0, y = 0;
    if (type_of(&offset) == TYPE_PAIR) x = pair::x_of(&offset), y = pair::y_of(&offset);
    else if (type_of(&offset) == TYPE_POINT2D) x = point::component(&offset, 0), y = point::component(&offset, 1);
    int32_t steps = type_of(&picked) == TYPE_INTEGER ? integer::get_value(&picked) : 0;
    uint32_t index = view_of_face(&face);
    logic::box(index && send_event(index, e.data1, e.data3, x, y, steps, queued));
}

using backend::routine_def;

constexpr routine_def PLATFORM_ROUTINES[] = {
    {"make-null-handle", "", with_display<make_null_handle>},
    {"fetch-all-screens", "", with_display<fetch_all_screens_routine>},
    {"get-current-screen", "", with_display<get_current_screen_routine>},
    {"get-screen-size", "id [integer!]", with_display<get_screen_size>},
    {"size-text", "face [object!] value [any-type!]", with_display<size_text>},
    {"on-change-facet",
     "owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] index [integer!] "
     "part [integer!]",
     with_display<on_change_facet>},
    {"update-text", "face [object!]", with_display<update_text>},
    {"update-font", "font [object!] flags [integer!]", with_display<update_font>},
    {"update-para", "face [object!] flags [integer!]", with_display<update_para>},
    {"destroy-view", "face [object!] empty? [logic!]", with_display<destroy_view_routine>},
    {"detach-image", "img [any-type!]", with_display<nothing>},
    {"update-view", "face [any-type!]", update_view_or_layout},
    {"refresh-window", "h [handle!]", with_display<refresh_window_routine>},
    {"redraw", "face [object!]", with_display<redraw_routine>},
    {"show-window", "id [handle!]", with_display<show_window_routine>},
    {"make-view", "face [object!] parent [handle!]", with_display<make_view_routine>},
    {"draw-image", "image [any-type!] cmds [block!]", draw_image_routine},
    {"draw-face", "face [object!] cmds [block!]", with_display<draw_face_routine>},
    {"do-event-loop", "no-wait? [logic!]", with_display<do_event_loop>},
    {"exit-event-loop", "", with_display<exit_event_loop_routine>},
    {"request-font", "font [object!] selected [any-type!] mono? [logic!]", with_display<request_font>},
    {"request-file", "title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]", with_display<request_file>},
    {"request-dir", "title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]", with_display<request_dir>},
    {"text-box-metrics", "box [object!] arg0 [any-type!] type [integer!]", text_box::metrics_routine},
    {"update-scroller", "scroller [object!] flags [integer!]", with_display<update_scroller_routine>},
    {"set-dark-mode", "face [object!] dark? [logic!]", with_display<set_dark_mode>},
    {"support-dark-mode?", "return: [logic!]", with_display<support_dark_mode_q>},
    {"toggle-GPU", "", with_display<nothing>},
};

}  // namespace

void install_backend() {
    backend::provide(PLATFORM_ROUTINES, std::size(PLATFORM_ROUTINES), false);
    const routine_def send{"send-event-os", "event [event!] queued? [logic!] return: [logic!]",
                           with_display<send_event_os>};
    backend::provide(&send, 1, true);
    const routine_def blink{"get-caret-blink-time", "return: [integer!]", get_caret_blink_time};
    backend::provide(&blink, 1, true);
    install_clipboard();
    image::face_capture = capture_face;
}

}  // namespace kiv::gui

// The module's entry: the backend seam calls it once, on the first use of
// a platform routine.
extern "C" void kiv_backend_module_gtk() { kiv::gui::install_backend(); }
