// GDK input to events: the signal handlers of every face widget.
#include <cstring>

#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/word.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"
#include "view/gtk/keys.h"
#include "view/gtk/menus.h"

namespace kiv::gui {

namespace {

// Input state kept for the process.
uint32_t hover = 0;                    // the view under the pointer
double last_move_x = -1, last_move_y = -1;  // root position of the last `over`, -1 none
bool move_known = false;
uint32_t key_view = 0;                 // the view of the key being translated
uint32_t key_flags = 0;

// One GDK event reaches every widget up the tree that does not handle it:
// only the face whose widget the event came to raises it.
bool already_seen(GtkWidget* w, const GdkEvent* ev) {
    GtkWidget* source = gtk_get_event_widget(const_cast<GdkEvent*>(ev));
    return !source || view_of_widget(source) != view_of_widget(w);
}

kiv_value key_word(const char* name) { return *word::load(name); }

kiv_value char_value(uint32_t cp) {
    kiv_value c;
    char_::make_at(&c, cp);
    return c;
}

// The position of an event inside the face's own widget, in device pixels.
void local_position(GtkWidget* w, double root_x, double root_y, double* x, double* y) {
    GdkWindow* window = gtk_widget_get_window(w);
    int ox = 0, oy = 0;
    if (window) gdk_window_get_origin(window, &ox, &oy);
    if (!gtk_widget_get_has_window(w)) {
        GtkAllocation a;
        gtk_widget_get_allocation(w, &a);
        ox += a.x, oy += a.y;
    }
    *x = root_x - ox, *y = root_y - oy;
}

GtkWidget* face_widget(uint32_t index) {
    view* v = view_at(index);
    return v ? v->widget : nullptr;
}

event_args at(uint32_t type, uint32_t flags, uint32_t index, double root_x, double root_y) {
    event_args e;
    e.type = type;
    e.flags = flags;
    e.has_offset = true;
    local_position(face_widget(index), root_x, root_y, &e.x, &e.y);
    return e;
}

uint32_t button_bit(uint32_t button) {
    switch (button) {
        case 1: return EF_DOWN;
        case 2: return EF_MID_DOWN;
        case 3: return EF_ALT_DOWN;
        case 8: case 9: return EF_AUX_DOWN;
        default: return 0;
    }
}

gboolean on_button(GtkWidget* w, GdkEventButton* ev, gpointer) {
    if (already_seen(w, reinterpret_cast<GdkEvent*>(ev))) return FALSE;
    uint32_t index = view_of_widget(w);
    if (!index) return FALSE;
    uint32_t bit = button_bit(ev->button);
    uint32_t flags = modifier_flags(ev->state);
    uint32_t type = 0;
    if (ev->type == GDK_BUTTON_PRESS) {
        flags |= bit;
        type = ev->button == 1 ? ev::DOWN : ev->button == 2 ? ev::MID_DOWN : ev->button == 3 ? ev::ALT_DOWN
                                                                                            : bit ? ev::AUX_DOWN : 0;
    } else if (ev->type == GDK_2BUTTON_PRESS) {
        type = ev->button == 1 ? ev::DBL_CLICK : 0;
        flags |= bit;
    } else if (ev->type == GDK_BUTTON_RELEASE) {
        flags &= ~bit;
        type = ev->button == 1 ? ev::UP : ev->button == 2 ? ev::MID_UP : ev->button == 3 ? ev::ALT_UP
                                                                                        : bit ? ev::AUX_UP : 0;
    }
    if (!type) return FALSE;
    event_args args = at(type, flags, index, ev->x_root, ev->y_root);
    bool stop = raise(index, args);
    // A right press that nothing stopped offers the face's context menu.
    if (type == ev::ALT_DOWN && !stop && view_at(index) && show_context_menu(index, ev, args.x, args.y))
        return TRUE;
    return stop || view_at(index) == nullptr || view_at(index)->box == w;
}

gboolean on_motion(GtkWidget* w, GdkEventMotion* ev, gpointer) {
    if (already_seen(w, reinterpret_cast<GdkEvent*>(ev))) return FALSE;
    uint32_t index = view_of_widget(w);
    if (!index) return FALSE;
    // The same position again is no move.
    if (move_known && ev->x_root == last_move_x && ev->y_root == last_move_y) return FALSE;
    move_known = true;
    last_move_x = ev->x_root, last_move_y = ev->y_root;
    view* v = view_at(index);
    bool enters = index != hover;
    hover = index;
    // Moves inside a face count only for faces that ask for them all.
    if (gtk_widget_is_sensitive(w) && (enters || (v->flags & FACET_ALL_OVER)))
        raise(index, at(ev::OVER, modifier_flags(ev->state), index, ev->x_root, ev->y_root));
    return FALSE;
}

gboolean on_leave(GtkWidget* w, GdkEventCrossing* ev, gpointer) {
    if (ev->mode != GDK_CROSSING_NORMAL) return FALSE;
    if (already_seen(w, reinterpret_cast<GdkEvent*>(ev))) return FALSE;
    uint32_t index = view_of_widget(w);
    if (!index) return FALSE;
    move_known = false;
    raise(index, at(ev::OVER, modifier_flags(ev->state) | EF_AWAY, index, ev->x_root, ev->y_root));
    if (hover == index) hover = 0;
    return FALSE;
}

gboolean on_scroll(GtkWidget* w, GdkEventScroll* ev, gpointer) {
    if (already_seen(w, reinterpret_cast<GdkEvent*>(ev))) return FALSE;
    uint32_t index = view_of_widget(w);
    if (!index) return FALSE;
    double steps = 0;
    switch (ev->direction) {
        case GDK_SCROLL_UP: steps = 1; break;
        case GDK_SCROLL_DOWN: steps = -1; break;
        case GDK_SCROLL_SMOOTH: steps = -ev->delta_y; break;
        default: return FALSE;
    }
    if (steps == 0) return FALSE;
    event_args e = at(ev::WHEEL, modifier_flags(ev->state), index, ev->x_root, ev->y_root);
    e.key = key_word("wheel");
    kiv_value picked{TYPE_FLOAT, 0, 0, 0};
    cell::set_float(&picked, steps);
    e.picked = picked;
    return raise(index, e);
}

// The view that keys go to: the focused face of the window, else the window.
uint32_t focus_view(GtkWidget* window) {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    uint32_t index = focus ? view_of_widget(focus) : 0;
    return index ? index : view_of_widget(window);
}

event_args key_event(uint32_t type, uint32_t flags, kiv_value key, uint32_t index) {
    event_args e;
    e.type = type;
    e.flags = flags;
    e.key = key;
    GtkWidget* w = face_widget(index);
    GdkWindow* window = w ? gtk_widget_get_window(w) : nullptr;
    if (window) {
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
        int rx = 0, ry = 0;
        gdk_device_get_position(pointer, nullptr, &rx, &ry);
        e.has_offset = true;
        local_position(w, rx, ry, &e.x, &e.y);
    }
    return e;
}

bool raise_char(uint32_t index, uint32_t cp, uint32_t flags) {
    // A character beyond the 16-bit range carries no modifiers.
    if (cp > 0xFFFF) flags = 0;
    return raise(index, key_event(ev::KEY, flags | cp, char_value(cp), index));
}

void on_commit(GtkIMContext*, const char* text, gpointer window) {
    uint32_t index = key_view ? key_view : focus_view(GTK_WIDGET(window));
    uint32_t flags = key_view ? key_flags : 0;
    for (const char* p = text; *p; p = g_utf8_next_char(p)) {
        if (!view_at(index)) return;
        raise_char(index, g_utf8_get_char(p), flags & ~EF_SHIFT);
    }
}

gboolean on_key_press(GtkWidget* window, GdkEventKey* ev, gpointer) {
    uint32_t index = focus_view(window);
    if (!index) return FALSE;
    uint32_t flags = modifier_flags(ev->state) | own_modifier_flag(ev->keyval);
    const char* special = special_key_name(ev->keyval);
    uint32_t cp = special ? 0 : key_down_char(ev->keyval, gdk_keyval_to_unicode(ev->keyval));
    kiv_value key = special ? key_word(special) : cp ? char_value(cp) : none_value;
    if (raise(index, key_event(ev::KEY_DOWN, flags | cp, key, index))) return TRUE;
    if (!view_at(index)) return TRUE;
    if (special) {
        if (modifier_key_q(ev->keyval)) return FALSE;
        return raise(index, key_event(ev::KEY, flags, key, index));
    }
    if ((flags & EF_CONTROL) && !(flags & EF_ALT)) {
        uint32_t c = control_char(ev->keyval);
        return c ? raise_char(index, c, flags) : FALSE;
    }
    if (uint32_t c = typed_control_char(ev->keyval)) return raise_char(index, c, flags);
    view* v = view_at(view_of_widget(window));
    if (!v || !v->im) return FALSE;
    key_view = index;
    key_flags = flags;
    gtk_im_context_filter_keypress(v->im, ev);
    key_view = 0;
    return FALSE;
}

gboolean on_key_release(GtkWidget* window, GdkEventKey* ev, gpointer) {
    uint32_t index = focus_view(window);
    if (!index) return FALSE;
    uint32_t flags = modifier_flags(ev->state) & ~own_modifier_flag(ev->keyval);
    const char* special = special_key_name(ev->keyval);
    uint32_t cp = special ? 0 : key_down_char(ev->keyval, gdk_keyval_to_unicode(ev->keyval));
    kiv_value key = special ? key_word(special) : cp ? char_value(cp) : none_value;
    view* v = view_at(view_of_widget(window));
    if (v && v->im) gtk_im_context_filter_keypress(v->im, ev);
    return raise(index, key_event(ev::KEY_UP, flags | cp, key, index));
}

gboolean on_focus(GtkWidget* w, GdkEventFocus* ev, gpointer) {
    uint32_t index = view_of_widget(w);
    if (!index || face_widget(index) != w) return FALSE;
    view* v = view_at(index);
    if (v->im) {
        if (ev->in) gtk_im_context_focus_in(v->im);
        else gtk_im_context_focus_out(v->im);
    }
    raise(index, event_args{ev->in ? uint32_t(ev::FOCUS) : uint32_t(ev::UNFOCUS)});
    return FALSE;
}

gboolean on_configure(GtkWidget* w, GdkEventConfigure* ev, gpointer) {
    uint32_t index = view_of_widget(w);
    view* v = view_at(index);
    if (!v) return FALSE;
    bool moved = ev->x != v->last_x || ev->y != v->last_y;
    bool resized = ev->width != v->last_w || ev->height != v->last_h;
    v->last_x = ev->x, v->last_y = ev->y, v->last_w = ev->width, v->last_h = ev->height;
    if (moved) {
        kiv_value* face = face_of(index);
        point::make_at(facet(face, FACET_OFFSET), TYPE_POINT2D, unscale(ev->x), unscale(ev->y));
        event_args e{ev::MOVE};
        e.has_offset = true;
        e.x = ev->x, e.y = ev->y;
        raise(index, e);
    }
    if (resized && view_at(index)) {
        kiv_value* face = face_of(index);
        // The face's size is its client area's, below the menu bar.
        int client_h = std::max(ev->height - menu_bar_height(index), 0);
        double lw = unscale(ev->width), lh = unscale(client_h);
        if (v->size_is_pair) pair::make_at(facet(face, FACET_SIZE), int32_t(lw), int32_t(lh));
        else point::make_at(facet(face, FACET_SIZE), TYPE_POINT2D, lw, lh);
        event_args e{ev::RESIZE};
        e.has_offset = true;
        e.x = ev->width, e.y = client_h;
        raise(index, e);
    }
    return FALSE;
}

gboolean on_delete(GtkWidget* w, GdkEvent*, gpointer) {
    uint32_t index = view_of_widget(w);
    if (!index) return TRUE;
    gtk_widget_grab_focus(w);
    // The View layer closes the window itself; `stop` ends the loop instead.
    if (raise(index, event_args{ev::CLOSE})) exit_event_loop();
    return TRUE;
}

gboolean on_timer(gpointer data) {
    uint32_t index = GPOINTER_TO_UINT(data);
    if (!view_at(index)) return G_SOURCE_REMOVE;
    raise(index, event_args{ev::TIME});
    return G_SOURCE_CONTINUE;
}

}  // namespace

void connect_input(uint32_t index) {
    view* v = view_at(index);
    GtkWidget* w = v->widget;
    GtkWidget* target = v->kind == K_WINDOW ? v->box : w;
    gtk_widget_add_events(target, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                      GDK_LEAVE_NOTIFY_MASK | GDK_ENTER_NOTIFY_MASK | GDK_SCROLL_MASK |
                                      GDK_SMOOTH_SCROLL_MASK | GDK_FOCUS_CHANGE_MASK);
    g_signal_connect(target, "button-press-event", G_CALLBACK(on_button), nullptr);
    g_signal_connect(target, "button-release-event", G_CALLBACK(on_button), nullptr);
    g_signal_connect(target, "motion-notify-event", G_CALLBACK(on_motion), nullptr);
    g_signal_connect(target, "leave-notify-event", G_CALLBACK(on_leave), nullptr);
    g_signal_connect(target, "scroll-event", G_CALLBACK(on_scroll), nullptr);
    g_signal_connect(w, "focus-in-event", G_CALLBACK(on_focus), nullptr);
    g_signal_connect(w, "focus-out-event", G_CALLBACK(on_focus), nullptr);
    if (v->kind != K_WINDOW) return;
    gtk_widget_add_events(w, GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_STRUCTURE_MASK);
    g_signal_connect(w, "key-press-event", G_CALLBACK(on_key_press), nullptr);
    g_signal_connect(w, "key-release-event", G_CALLBACK(on_key_release), nullptr);
    g_signal_connect(w, "configure-event", G_CALLBACK(on_configure), nullptr);
    g_signal_connect(w, "delete-event", G_CALLBACK(on_delete), nullptr);
    v->im = gtk_im_context_simple_new();
    g_signal_connect(v->im, "commit", G_CALLBACK(on_commit), w);
}

void disconnect_input(uint32_t index) {
    view* v = view_at(index);
    if (hover == index) hover = 0;
    if (v->timer) g_source_remove(v->timer);
    v->timer = 0;
    if (v->im) {
        g_signal_handlers_disconnect_by_data(v->im, v->widget);
        g_object_unref(v->im);
        v->im = nullptr;
    }
}

namespace {

GdkDevice* pointer_device() {
    return gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
}

GdkDevice* keyboard_device() {
    return gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default()));
}

uint32_t gdk_state_of(uint32_t flags) {
    uint32_t state = 0;
    if (flags & EF_CONTROL) state |= GDK_CONTROL_MASK;
    if (flags & EF_SHIFT) state |= GDK_SHIFT_MASK;
    if (flags & EF_ALT) state |= GDK_MOD1_MASK;
    if (flags & EF_DOWN) state |= GDK_BUTTON1_MASK;
    if (flags & EF_MID_DOWN) state |= GDK_BUTTON2_MASK;
    if (flags & EF_ALT_DOWN) state |= GDK_BUTTON3_MASK;
    return state;
}

struct queued_key {
    uint32_t index, cp, flags;
};

gboolean deliver_key(gpointer data) {
    auto* k = static_cast<queued_key*>(data);
    if (view_at(k->index)) raise_char(k->index, k->cp, k->flags);
    delete k;
    return G_SOURCE_REMOVE;
}

}  // namespace

bool send_event(uint32_t index, uint32_t type, uint32_t flags, double x, double y, int32_t steps, bool queued) {
    view* v = view_at(index);
    if (!v || !gtk_widget_get_realized(v->widget)) return false;
    GtkWidget* target = v->kind == K_WINDOW ? v->box : v->widget;
    GdkWindow* window = gtk_widget_get_window(target);
    if (type == ev::KEY) {
        auto* k = new queued_key{index, flags & 0x1FFFFF, flags & ~0x1FFFFFu};
        if (queued) g_idle_add(deliver_key, k);
        else deliver_key(k);
        return true;
    }
    // The offset, in device pixels, inside the event's GdkWindow and on the
    // screen.
    double dx = scale(x), dy = scale(y);
    if (!gtk_widget_get_has_window(target)) {
        GtkAllocation a;
        gtk_widget_get_allocation(target, &a);
        dx += a.x, dy += a.y;
    }
    int ox = 0, oy = 0;
    gdk_window_get_origin(window, &ox, &oy);
    GdkEvent* e = nullptr;
    uint32_t state = gdk_state_of(flags);
    switch (type) {
        case ev::DOWN: case ev::UP: case ev::MID_DOWN: case ev::MID_UP: case ev::ALT_DOWN: case ev::ALT_UP:
        case ev::AUX_DOWN: case ev::AUX_UP: case ev::DBL_CLICK: {
            bool press = type == ev::DOWN || type == ev::MID_DOWN || type == ev::ALT_DOWN || type == ev::AUX_DOWN;
            e = gdk_event_new(type == ev::DBL_CLICK ? GDK_2BUTTON_PRESS : press ? GDK_BUTTON_PRESS : GDK_BUTTON_RELEASE);
            uint32_t button = type <= ev::UP || type == ev::DBL_CLICK ? 1 : type <= ev::MID_UP ? 2
                              : type <= ev::ALT_UP ? 3 : 8;
            e->button.button = button;
            e->button.x = dx, e->button.y = dy;
            e->button.x_root = ox + dx, e->button.y_root = oy + dy;
            e->button.state = state;
            gdk_event_set_device(e, pointer_device());
            break;
        }
        case ev::OVER:
            if (flags & EF_AWAY) {
                e = gdk_event_new(GDK_LEAVE_NOTIFY);
                e->crossing.mode = GDK_CROSSING_NORMAL;
                e->crossing.x = dx, e->crossing.y = dy;
                e->crossing.x_root = ox + dx, e->crossing.y_root = oy + dy;
                e->crossing.state = state;
            } else {
                e = gdk_event_new(GDK_MOTION_NOTIFY);
                e->motion.x = dx, e->motion.y = dy;
                e->motion.x_root = ox + dx, e->motion.y_root = oy + dy;
                e->motion.state = state;
                move_known = false;  // a sent move is never taken for a repeat
            }
            gdk_event_set_device(e, pointer_device());
            break;
        case ev::WHEEL:
            e = gdk_event_new(GDK_SCROLL);
            e->scroll.direction = steps < 0 ? GDK_SCROLL_DOWN : GDK_SCROLL_UP;
            e->scroll.x = dx, e->scroll.y = dy;
            e->scroll.x_root = ox + dx, e->scroll.y_root = oy + dy;
            e->scroll.state = state;
            gdk_event_set_device(e, pointer_device());
            break;
        case ev::KEY_DOWN: case ev::KEY_UP: {
            uint32_t index_window = window_of(index);
            if (!index_window) return false;
            window = gtk_widget_get_window(view_at(index_window)->widget);
            e = gdk_event_new(type == ev::KEY_DOWN ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
            uint32_t cp = flags & 0x1FFFFF;
            e->key.keyval = cp >= 'A' && cp <= 'Z' ? cp + 32 : gdk_unicode_to_keyval(cp);
            e->key.state = state;
            gdk_event_set_device(e, keyboard_device());
            break;
        }
        default:
            return false;
    }
    e->any.window = GDK_WINDOW(g_object_ref(window));
    e->any.send_event = TRUE;
    if (queued) gdk_event_put(e);
    else gtk_main_do_event(e);
    gdk_event_free(e);
    return true;
}

void start_timer(uint32_t index, int32_t period) {
    view* v = view_at(index);
    if (v->timer) g_source_remove(v->timer);
    v->timer = period > 0 ? g_timeout_add(guint(period), on_timer, GUINT_TO_POINTER(index)) : 0;
}

}  // namespace kiv::gui
