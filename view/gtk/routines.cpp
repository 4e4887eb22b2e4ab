// The platform routines of the GTK backend: thin adapters that read their
// arguments from the current call, call the backend and leave the result in
// the first argument cell.
#include "view/gtk/routines.h"

#include <cstring>

#include "runtime/boot.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"

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

void make_null_handle() { return_handle(0, HANDLE_NULL); }

void fetch_all_screens_routine() {
    std::vector<screen_info> screens = fetch_all_screens();
    kiv_value* result = block::make_at(stack::push(), int32_t(screens.size()));
    for (const screen_info& s : screens) {
        kiv_value* entry = block::make_in(result, 4);
        pair::make_in(entry, s.x, s.y);
        pair::make_in(entry, s.width, s.height);
        float_::make_in(entry, s.factor);
        *block::append_value(entry, 1) = kiv_value{TYPE_HANDLE, HANDLE_MONITOR, s.handle, 0xFFFFFFFF};
    }
    stack::set_last(result);
}

void get_current_screen_routine() { return_handle(current_screen(), HANDLE_MONITOR); }

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
        for (int32_t i = 0; i < block::ks_length_q(&users); i++) refresh_font(block::ks_head(&users) + i);
    *stack::arguments = none_value;
}

void update_para() {
    uint32_t index = view_of_face(arg(0));
    if (index) redraw(index);
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

void draw_face_routine() {
    get_flags(facet(arg(0), FACET_FLAGS));
    *stack::arguments = none_value;
}

void do_event_loop() { logic::box(do_events(logic::truthy(arg(0)))); }

void exit_event_loop_routine() {
    exit_event_loop();
    *stack::arguments = none_value;
}

void text_box_metrics() {
    if (!type_word_q(arg(0), "rich-text")) fire(err::SCRIPT, err::script::face_type, facet(arg(0), FACET_TYPE));
    *stack::arguments = none_value;
}

void set_dark_mode() {
    if (active_q())
        g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", logic::truthy(arg(1)), nullptr);
    *stack::arguments = none_value;
}

void support_dark_mode_q() { logic::box(active_q()); }

struct routine_def {
    const char* name;
    const char* spec;
    void (*code)();
};

constexpr routine_def PLATFORM_ROUTINES[] = {
    {"make-null-handle", "", make_null_handle},
    {"fetch-all-screens", "", fetch_all_screens_routine},
    {"get-current-screen", "", get_current_screen_routine},
    {"get-screen-size", "id [integer!]", get_screen_size},
    {"size-text", "face [object!] value [any-type!]", size_text},
    {"on-change-facet",
     "owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] index [integer!] "
     "part [integer!]",
     on_change_facet},
    {"update-text", "face [object!]", update_text},
    {"update-font", "font [object!] flags [integer!]", update_font},
    {"update-para", "face [object!] flags [integer!]", update_para},
    {"destroy-view", "face [object!] empty? [logic!]", destroy_view_routine},
    {"detach-image", "img [any-type!]", nothing},
    {"update-view", "face [any-type!]", update_view_routine},
    {"refresh-window", "h [handle!]", refresh_window_routine},
    {"redraw", "face [object!]", redraw_routine},
    {"show-window", "id [handle!]", show_window_routine},
    {"make-view", "face [object!] parent [handle!]", make_view_routine},
    {"draw-image", "image [any-type!] cmds [block!]", nothing},
    {"draw-face", "face [object!] cmds [block!]", draw_face_routine},
    {"do-event-loop", "no-wait? [logic!]", do_event_loop},
    {"exit-event-loop", "", exit_event_loop_routine},
    {"request-font", "font [object!] selected [any-type!] mono? [logic!]", nothing},
    {"request-file", "title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]", nothing},
    {"request-dir", "title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]", nothing},
    {"text-box-metrics", "box [object!] arg0 [any-type!] type [integer!]", text_box_metrics},
    {"update-scroller", "scroller [object!] flags [integer!]", nothing},
    {"set-dark-mode", "face [object!] dark? [logic!]", set_dark_mode},
    {"support-dark-mode?", "return: [logic!]", support_dark_mode_q},
    {"toggle-GPU", "", nothing},
};

}  // namespace

void bind_platform(kiv_value* platform) {
    for (const routine_def& r : PLATFORM_ROUTINES) {
        kiv_value* held = stack::push();
        *held = boot::load_source(r.spec);
        kiv_value routine = *routine::push(held, nullptr, routine::register_entry(r.code), 0, false);
        stack::pop(2);
        kiv_value name = *word::load(r.name);
        if (object::find_word(platform, &name) >= 0) *object::get_field(platform, &name) = routine;
    }
}

}  // namespace kiv::gui
