// Face life cycle and facet updates: one widget per face, made from a table
// of factories by face type, placed in its parent's KivBox.
#include <cmath>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/slots.h"
#include "runtime/unicode.h"
#include "view/gtk/camera.h"
#include "view/gtk/dpi.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"
#include "view/gtk/kivbox.h"
#include "view/gtk/scrollbars.h"
#include "view/gtk/text_box.h"
#include "view/gtk/menus.h"
#include "view/gtk/tabs.h"
#include "view/gtk/widgets.h"
#include "view/gtk/windows.h"

namespace kiv::gui {

namespace {

// Change bits of the `state` block: bit n for facet n.
constexpr uint32_t bit(uint32_t facet_index) { return 1u << facet_index; }

GtkWidget* make_box() { return kivbox_new(); }
GtkWidget* make_group_box() {
    GtkWidget* box = kivbox_new();
    kivbox_set_frame(box, true);
    return box;
}
GtkWidget* make_window() { return gtk_window_new(GTK_WINDOW_TOPLEVEL); }
GtkWidget* make_button() { return gtk_button_new_with_label(""); }
GtkWidget* make_toggle() { return gtk_toggle_button_new_with_label(""); }
GtkWidget* make_check() { return gtk_check_button_new_with_label(""); }
GtkWidget* make_radio() { return gtk_radio_button_new_with_label(nullptr, ""); }
GtkWidget* make_field() { return gtk_entry_new(); }
GtkWidget* make_area() { return gtk_text_view_new(); }
GtkWidget* make_text_list() { return gtk_list_box_new(); }
GtkWidget* make_drop_down() { return gtk_combo_box_text_new_with_entry(); }
GtkWidget* make_drop_list() { return gtk_combo_box_text_new(); }
GtkWidget* make_progress() { return gtk_progress_bar_new(); }
GtkWidget* make_slider() { return gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 1, 0.01); }
GtkWidget* make_scroller() { return gtk_scrollbar_new(GTK_ORIENTATION_HORIZONTAL, nullptr); }
GtkWidget* make_calendar() { return gtk_calendar_new(); }

// Face type to widget. `container`: the widget holds the face's pane;
// `own_text`: the box draws the face's text itself (centred or not).
struct factory {
    const char* type;
    face_kind kind;
    GtkWidget* (*make)();
    bool container;
    bool own_text;
    bool centred;
};

constexpr factory FACTORIES[] = {
    {"window", K_WINDOW, make_window, true, false, false},
    {"panel", K_PANEL, make_box, true, false, false},
    {"group-box", K_GROUP_BOX, make_group_box, true, true, false},
    {"tab-panel", K_TAB_PANEL, make_box, true, false, false},
    {"base", K_BASE, make_box, true, true, true},
    {"rich-text", K_RICH_TEXT, make_box, true, false, false},
    {"camera", K_CAMERA, make_box, false, false, false},
    {"text", K_TEXT, make_box, false, true, false},
    {"button", K_BUTTON, make_button, false, false, false},
    {"toggle", K_TOGGLE, make_toggle, false, false, false},
    {"check", K_CHECK, make_check, false, false, false},
    {"radio", K_RADIO, make_radio, false, false, false},
    {"field", K_FIELD, make_field, false, false, false},
    {"area", K_AREA, make_area, false, false, false},
    {"text-list", K_TEXT_LIST, make_text_list, false, false, false},
    {"drop-down", K_DROP_DOWN, make_drop_down, false, false, false},
    {"drop-list", K_DROP_LIST, make_drop_list, false, false, false},
    {"progress", K_PROGRESS, make_progress, false, false, false},
    {"slider", K_SLIDER, make_slider, false, false, false},
    {"scroller", K_SCROLLER, make_scroller, false, false, false},
    {"calendar", K_CALENDAR, make_calendar, false, false, false},
};
static_assert(sizeof(FACTORIES) / sizeof(FACTORIES[0]) == K_KIND_COUNT_);

const factory* factory_of(const kiv_value* type) {
    if (type_of(type) != TYPE_WORD && type_of(type) != TYPE_LIT_WORD) return nullptr;
    const char* name = symbol::name_of(word::symbol_of(type));
    for (const factory& f : FACTORIES)
        if (strcasecmp(f.type, name) == 0) return &f;
    return nullptr;
}

// A facet holding a pair! or point2D!, in logical pixels.
bool read_point(const kiv_value* v, double* x, double* y) {
    if (type_of(v) == TYPE_PAIR) {
        *x = pair::x_of(v), *y = pair::y_of(v);
        return true;
    }
    if (type_of(v) == TYPE_POINT2D) {
        *x = point::component(v, 0), *y = point::component(v, 1);
        return true;
    }
    *x = *y = 0;
    return false;
}

// A colour tuple as rgba 0..1; the fourth byte is transparency.
bool read_color(const kiv_value* v, double rgba[4]) {
    if (type_of(v) != TYPE_TUPLE || tuple::length_of(v) < 3) return false;
    const uint8_t* b = tuple::bytes_of(v);
    for (int i = 0; i < 3; i++) rgba[i] = b[i] / 255.0;
    rgba[3] = tuple::length_of(v) > 3 ? (255 - b[3]) / 255.0 : 1.0;
    return true;
}

// The face's font as a description string (family, style and an absolute
// size) and its colour.
struct font_spec {
    std::string name;
    double rgb[3] = {0, 0, 0};
    bool underline = false, strike = false;
};

font_spec font_of(kiv_value* face) {
    kiv_value font = *facet(face, FACET_FONT);
    fonts::note_made(&font);
    fonts::look l = fonts::read(&font);
    l.size *= dpi_factor();  // the box draws in device pixels
    PangoFontDescription* d = fonts::describe(l);
    char* text = pango_font_description_to_string(d);
    font_spec f{text};
    g_free(text);
    pango_font_description_free(d);
    for (int i = 0; l.has_colour && i < 3; i++) f.rgb[i] = l.rgba[i] / 255.0;
    f.underline = l.underline, f.strike = l.strike;
    return f;
}

// A rich-text face's text box over its colour, laid out afresh: its text,
// styles or size may have changed since the last paint.
gboolean paint_rich_text(GtkWidget*, cairo_t* cr, gpointer index) {
    kiv_value face = *face_of(GPOINTER_TO_UINT(index));
    kiv_value font = *facet(&face, FACET_FONT);
    fonts::note_made(&font);
    fonts::look l = fonts::read(&font);
    text_box::rgba ink{0, 0, 0, 255};
    if (l.has_colour) ink = {l.rgba[0], l.rgba[1], l.rgba[2], l.rgba[3]};
    cairo_save(cr);
    cairo_scale(cr, dpi_factor(), dpi_factor());
    text_box::draw_face(cr, 0, 0, &face, ink, false, true);
    cairo_restore(cr);
    return FALSE;
}

// Offset and size of a face in device pixels; a pair! offset becomes a
// point2D! in place.
void placement(kiv_value* face, int* x, int* y, int* w, int* h, bool* size_is_pair) {
    kiv_value* offset = facet(face, FACET_OFFSET);
    double ox, oy, sw, sh;
    if (type_of(offset) == TYPE_PAIR) point::make_at(offset, TYPE_POINT2D, pair::x_of(offset), pair::y_of(offset));
    read_point(offset, &ox, &oy);
    kiv_value* size = facet(face, FACET_SIZE);
    read_point(size, &sw, &sh);
    if (size_is_pair) *size_is_pair = type_of(size) == TYPE_PAIR;
    *x = scale(ox), *y = scale(oy), *w = scale(sw), *h = scale(sh);
}

view* parent_view(view* v) { return view_at(v->parent); }

void place(uint32_t index) {
    view* v = view_at(index);
    kiv_value* face = face_of(index);
    int x, y, w, h;
    placement(face, &x, &y, &w, &h, &v->size_is_pair);
    if (v->kind == K_WINDOW) {
        // A window's size is its client area's: without `resize` it cannot
        // change; with it the user may make it larger or smaller.
        if (w < 0 || h < 0) w = h = scale(200);
        bool resizable = v->flags & FACET_RESIZE;
        gtk_window_set_resizable(GTK_WINDOW(v->widget), resizable);
        gtk_widget_set_size_request(v->box, resizable ? 1 : w, resizable ? 1 : h);
        int outer_h = h + menu_bar_height(index);
        gtk_window_set_default_size(GTK_WINDOW(v->widget), w, outer_h);
        gtk_window_resize(GTK_WINDOW(v->widget), w, outer_h);
        gtk_window_move(GTK_WINDOW(v->widget), x, y);
        v->last_x = x, v->last_y = y, v->last_w = w, v->last_h = h;
        return;
    }
    view* p = parent_view(v);
    if (p && p->box) kivbox_put(p->box, v->widget, x, y, w, h);
    place_scrollbars(index, w, h);
}

// Where a face's own text goes: a base face centres it unless its para
// says otherwise, a text face puts it left and in the middle, and a group
// box's caption is set into the top edge of its frame.
fonts::para_look text_para(kiv_value* face, const factory* f) {
    if (f->kind == K_GROUP_BOX) return {};
    kiv_value* para = facet(face, FACET_PARA);
    if (f->centred) return type_of(para) == TYPE_OBJECT ? fonts::read_para(para, false)
                                                          : fonts::para_look{fonts::ALIGN_CENTER, fonts::ALIGN_MIDDLE};
    fonts::para_look p = fonts::read_para(para, true);
    if (type_of(para) != TYPE_OBJECT || !any_word_q(type_of(object::get_values(para) + 4))) p.v = fonts::ALIGN_MIDDLE;
    return p;
}

void apply_text(uint32_t index, const factory* f) {
    view* v = view_at(index);
    kiv_value* face = face_of(index);
    std::string text = text_of(facet(face, FACET_TEXT));
    switch (v->kind) {
        case K_WINDOW: gtk_window_set_title(GTK_WINDOW(v->widget), text.c_str()); return;
        case K_BUTTON: case K_TOGGLE: case K_CHECK: case K_RADIO: {
            gtk_button_set_label(GTK_BUTTON(v->widget), text.c_str());
            // A face narrower than its label cuts the label short; the
            // toolkit would otherwise ask for more room than the face has.
            GtkWidget* label = gtk_bin_get_child(GTK_BIN(v->widget));
            if (GTK_IS_LABEL(label)) gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
            return;
        }
        case K_FIELD: gtk_entry_set_text(GTK_ENTRY(v->widget), text.c_str()); return;
        case K_DROP_DOWN:
            gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(v->widget))), text.c_str());
            return;
        case K_AREA:
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(v->widget)), text.c_str(), -1);
            return;
        default: break;
    }
    if (f->own_text) {
        font_spec font = font_of(face);
        box_text t{text, font.name, {font.rgb[0], font.rgb[1], font.rgb[2]}, text_para(face, f), font.underline,
                   font.strike};
        kivbox_set_text(v->widget, t);
    }
}

void apply_color(uint32_t index) {
    view* v = view_at(index);
    double rgba[4] = {0, 0, 0, 0};
    // Without a colour the box paints nothing: a window shows the theme's
    // background, any other face its parent.
    if (read_color(facet(face_of(index), FACET_COLOR), rgba)) rgba[3] = window_alpha(index, rgba[3]);
    if (v->box) kivbox_set_color(v->box, rgba[0], rgba[1], rgba[2], rgba[3]);
    else if (v->widget) gtk_widget_queue_draw(v->widget);
}

void apply_visible(uint32_t index) {
    view* v = view_at(index);
    kiv_value* face = face_of(index);
    bool visible = logic::truthy(facet(face, FACET_VISIBLE_Q));
    if (caret_face_q(face)) visible = visible && logic::truthy(facet(face, FACET_ENABLED_Q));
    if (v->kind == K_WINDOW) {
        if (visible) gtk_widget_show(v->widget);
        else gtk_widget_hide(v->widget);
        return;
    }
    gtk_widget_set_visible(v->widget, visible);
}

// The pane's views in pane order, the last one on top.
void restack(uint32_t index) {
    view* v = view_at(index);
    if (!v->box) return;
    kiv_value pane = *facet(face_of(index), FACET_PANE);
    if (type_of(&pane) != TYPE_BLOCK) return;
    std::vector<GtkWidget*> order;
    for (int32_t i = 0; i < block::ks_length_q(&pane); i++) {
        view* child = view_at(view_of_face(block::ks_head(&pane) + i));
        if (child && gtk_widget_get_parent(child->widget) == v->box) order.push_back(child->widget);
    }
    // The face's own scroll bars stay above its pane.
    for (GtkWidget* bar : v->bars)
        if (bar) order.push_back(bar);
    kivbox_restack(v->box, order.data(), int(order.size()));
}

void apply_focus(uint32_t index) {
    view* v = view_at(index);
    if (v->kind != K_WINDOW) return;
    kiv_value* selected = facet(face_of(index), FACET_SELECTED);
    view* target = view_at(view_of_face(selected));
    if (!target || target == v) return;
    // A face given the focus takes keys, whatever its kind.
    gtk_widget_set_can_focus(target->widget, TRUE);
    gtk_widget_grab_focus(target->widget);
}

// Applies the facets whose change bits are set, in a fixed order.
void apply(uint32_t index, uint32_t bits) {
    quiet_scope quiet;
    view* v = view_at(index);
    const factory* f = &FACTORIES[v->kind];
    if (bits & (bit(FACET_OFFSET) | bit(FACET_SIZE))) place(index);
    if (bits & bit(FACET_TEXT)) apply_text(index, f);
    if (bits & (bit(FACET_DATA) | bit(FACET_SELECTED) | bit(FACET_TEXT))) apply_widget(index, bits);
    if (bits & bit(FACET_ENABLED_Q))
        gtk_widget_set_sensitive(v->widget, type_of(facet(face_of(index), FACET_ENABLED_Q)) != TYPE_LOGIC ||
                                                logic::get(facet(face_of(index), FACET_ENABLED_Q)));
    if ((bits & bit(FACET_VISIBLE_Q)) || ((bits & bit(FACET_ENABLED_Q)) && caret_face_q(face_of(index))))
        apply_visible(index);
    if (bits & bit(FACET_SELECTED)) apply_focus(index);
    if (bits & bit(FACET_FLAGS)) {
        v->flags = get_flags(facet(face_of(index), FACET_FLAGS));
        if (v->kind == K_FIELD) gtk_entry_set_visibility(GTK_ENTRY(v->widget), !(v->flags & FACET_PASSWORD));
    }
    if (bits & bit(FACET_COLOR)) apply_color(index);
    if (bits & (bit(FACET_DRAW) | bit(FACET_IMAGE) | bit(FACET_PARA))) gtk_widget_queue_draw(v->widget);
    if (v->kind == K_RICH_TEXT && (bits & (bit(FACET_TEXT) | bit(FACET_DATA) | bit(FACET_FONT) | bit(FACET_SIZE))))
        gtk_widget_queue_draw(v->widget);
    if (bits & bit(FACET_FONT)) apply_text(index, f);
    if (bits & bit(FACET_PANE)) restack(index);
    if (bits & bit(FACET_MENU)) apply_menu(index);
    if (bits & (bit(FACET_IMAGE) | bit(FACET_OPTIONS) | bit(FACET_OFFSET) | bit(FACET_SIZE))) apply_base(index, bits);
    if (v->kind == K_TAB_PANEL && (bits & (bit(FACET_DATA) | bit(FACET_SELECTED) | bit(FACET_SIZE))))
        apply_tabs(index, bits);
    if (v->kind == K_CAMERA && (bits & (bit(FACET_IMAGE) | bit(FACET_SELECTED)))) apply_camera(index, bits);
    if (bits & bit(FACET_RATE)) set_timer(index, facet(face_of(index), FACET_RATE));
}

kiv_value* change_bits(kiv_value* face) {
    kiv_value* state = facet(face, FACET_STATE);
    if (type_of(state) != TYPE_BLOCK || block::ks_length_q(state) < 2) return nullptr;
    kiv_value* bits = block::ks_head(state) + 1;
    return type_of(bits) == TYPE_INTEGER ? bits : nullptr;
}

void destroy_face(uint32_t index) {
    view* v = view_at(index);
    if (!v) return;
    if (v->kind == K_WINDOW) gtk_widget_hide(v->widget);
    disconnect_input(index);
    forget_menus(index);
    if (v->kind == K_CAMERA) close_camera(index);
    kiv_value pane = *facet(face_of(index), FACET_PANE);
    if (type_of(&pane) == TYPE_BLOCK)
        for (int32_t i = 0; i < block::ks_length_q(&pane); i++) {
            uint32_t child = view_of_face(block::ks_head(&pane) + i);
            if (child && view_at(child)->parent == index) destroy_face(child);
        }
    *facet(face_of(index), FACET_STATE) = none_value;
    if (v->kind == K_WINDOW) {
        kiv_value* selected = facet(face_of(index), FACET_SELECTED);
        *selected = none_value;
    }
    gtk_widget_destroy(v->widget);
    g_object_unref(v->widget);
    slots::free(v->face_slot);
    free_view(index);
    delete v;
}

}  // namespace

std::string text_of(kiv_value* v) {
    if (type_of(v) != TYPE_STRING) return "";
    int32_t count = -1;
    const char* text = unicode::to_utf8(v, &count);
    return std::string(text, size_t(count));
}

uint32_t window_of(uint32_t index) {
    for (view* v = view_at(index); v; v = view_at(index = v->parent))
        if (v->kind == K_WINDOW) return index;
    return 0;
}

uint32_t make_view(kiv_value* face, uint32_t parent) {
    if (!active_q()) fire(err::SCRIPT, err::script::face_type, facet(face, FACET_TYPE));
    const factory* f = factory_of(facet(face, FACET_TYPE));
    if (!f) fire(err::SCRIPT, err::script::face_type, facet(face, FACET_TYPE));
    uint32_t flags = get_flags(facet(face, FACET_FLAGS));
    view* v = new view;
    v->kind = f->kind;
    v->flags = flags;
    v->widget = f->make();
    g_object_ref_sink(v->widget);
    gtk_style_context_add_class(gtk_widget_get_style_context(v->widget), "kiv-face");
    if (f->kind == K_WINDOW) {
        v->box = kivbox_new();
        // The menu bar, when there is one, goes above the client area.
        GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_pack_end(GTK_BOX(content), v->box, TRUE, TRUE, 0);
        gtk_container_add(GTK_CONTAINER(v->widget), content);
        g_object_set_data(G_OBJECT(v->widget), "kiv-content", content);
        gtk_widget_show(content);
        gtk_widget_show(v->box);
        GtkWindow* w = GTK_WINDOW(v->widget);
        if (flags & (FACET_NO_TITLE | FACET_NO_BORDER)) gtk_window_set_decorated(w, FALSE);
        if (flags & FACET_POPUP) gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_UTILITY);
        if (flags & FACET_MODAL) gtk_window_set_modal(w, TRUE);
        gtk_widget_set_can_focus(v->box, TRUE);
    } else if (f->container || f->own_text) {
        v->box = v->widget;
    }
    if (f->kind == K_FIELD && (flags & FACET_PASSWORD)) gtk_entry_set_visibility(GTK_ENTRY(v->widget), FALSE);
    v->parent = view_at(parent) ? parent : 0;
    uint32_t index = new_view(v);
    g_object_set_data(G_OBJECT(v->widget), "kiv-view", GUINT_TO_POINTER(index));
    if (v->box) g_object_set_data(G_OBJECT(v->box), "kiv-view", GUINT_TO_POINTER(index));
    v->face_slot = slots::store(face);
    try {
        attach_scrollbars(index);
        // A window's menu bar first: the window is made taller by it.
        if (f->kind == K_WINDOW) apply_menu(index);
        place(index);
        apply(index, bit(FACET_TEXT) | bit(FACET_COLOR) | bit(FACET_DATA) | bit(FACET_ENABLED_Q));
        if (f->kind != K_WINDOW) apply_visible(index);
        connect_input(index);
        if (f->kind == K_RICH_TEXT)
            g_signal_connect_after(v->widget, "draw", G_CALLBACK(paint_rich_text), GUINT_TO_POINTER(index));
        setup_widget(index);
        setup_base(index);
        if (f->kind == K_CAMERA) setup_camera(index);
        if (f->kind == K_TAB_PANEL) setup_tabs(index);
        if (type_of(facet(face_of(index), FACET_RATE)) != TYPE_NONE) set_timer(index, facet(face_of(index), FACET_RATE));
    } catch (...) {
        disconnect_input(index);
        gtk_widget_destroy(v->widget);
        g_object_unref(v->widget);
        slots::free(v->face_slot);
        free_view(index);
        delete v;
        throw;
    }
    return index;
}

void destroy_view(kiv_value* face, bool empty) {
    uint32_t index = view_of_face(face);
    if (index) destroy_face(index);
    if (empty) count_closed_loop();
}

void update_view(kiv_value* face) {
    uint32_t index = view_of_face(face);
    if (!index) return;
    kiv_value* bits_cell = change_bits(face);
    uint32_t bits = bits_cell ? uint32_t(integer::get_value(bits_cell)) : 0;
    if (bits_cell) integer::make_at(bits_cell, 0);
    try {
        apply(index, bits);
    } catch (...) {
        // Nothing recorded is lost: the bits wait for the next update.
        if (view_of_face(face) == index && (bits_cell = change_bits(face)))
            integer::make_at(bits_cell, integer::get_value(bits_cell) | int32_t(bits));
        throw;
    }
}

void update_views(kiv_value* faces) {
    kiv_value blk = *faces;
    for (int32_t i = 0; i < block::ks_length_q(&blk); i++) update_view(block::ks_head(&blk) + i);
}

void update_facet(kiv_value* owner, kiv_value* word_, kiv_value* value, kiv_value* action, kiv_value*,
                  int32_t index, int32_t part) {
    uint32_t owner_index = view_of_face(owner);
    const char* facet_name = symbol::name_of(word::symbol_of(word_));
    if (!owner_index) return;
    if (strcasecmp(facet_name, "pane") != 0 || type_of(value) != TYPE_BLOCK) {
        update_view(owner);
        return;
    }
    const char* act = symbol::name_of(word::symbol_of(action));
    bool detach = !strcasecmp(act, "remove") || !strcasecmp(act, "take") || !strcasecmp(act, "clear");
    bool attach = !strcasecmp(act, "inserted") || !strcasecmp(act, "poke") || !strcasecmp(act, "put") ||
                  !strcasecmp(act, "moved") || !strcasecmp(act, "changed") || !strcasecmp(act, "appended") ||
                  !strcasecmp(act, "poked");
    kiv_value pane = *value;
    view* owner_view = view_at(owner_index);
    int32_t length = block::ks_length_q(&pane);
    if (part < 0) part = length - index;
    for (int32_t i = index; i < index + part && i < length; i++) {
        if (i < 0) continue;
        kiv_value* child = block::ks_head(&pane) + i;
        uint32_t child_index = view_of_face(child);
        view* c = view_at(child_index);
        if (!c) continue;
        if (detach) {
            // A face taken out of a pane stays hidden until a pane takes it
            // again: it never shows up as a window of its own.
            *facet(child, FACET_VISIBLE_Q) = false_value;
            gtk_widget_hide(c->widget);
            GtkWidget* parent_box = gtk_widget_get_parent(c->widget);
            if (parent_box) kivbox_remove(parent_box, c->widget);
            c->parent = 0;
        } else if (attach && owner_view->box && c->kind != K_WINDOW) {
            *facet(child, FACET_VISIBLE_Q) = true_value;
            GtkWidget* parent_box = gtk_widget_get_parent(c->widget);
            if (parent_box != owner_view->box) {
                if (parent_box) kivbox_remove(parent_box, c->widget);
                c->parent = owner_index;
                place(child_index);
            }
            gtk_widget_show(c->widget);
        }
    }
    restack(owner_index);
}

void read_back_text(kiv_value* face) {
    view* v = view_at(view_of_face(face));
    if (!v) return;
    std::string text;
    if (v->kind == K_FIELD) text = gtk_entry_get_text(GTK_ENTRY(v->widget));
    else if (v->kind == K_DROP_DOWN) text = gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(v->widget))));
    else if (v->kind == K_AREA) {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(v->widget));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        gchar* all = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
        text = all;
        g_free(all);
    } else {
        return;
    }
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), facet(face, FACET_TEXT),
                    string::UTF8);
}

void refresh_text(kiv_value* face) {
    uint32_t index = view_of_face(face);
    if (index && view_at(index)->kind == K_RICH_TEXT) redraw(index);
    else if (index) apply_text(index, &FACTORIES[view_at(index)->kind]);
}

void show_window(uint32_t index) {
    view* v = view_at(index);
    if (!v) return;
    gtk_widget_show(v->widget);
    if (v->kind == K_WINDOW) {
        gtk_window_present(GTK_WINDOW(v->widget));
        apply_focus(index);
    }
}

void redraw(uint32_t index) {
    view* v = view_at(index);
    if (v) gtk_widget_queue_draw(v->widget);
}

void refresh_window(uint32_t index) {
    view* v = view_at(index);
    // Painting follows the frame clock: the request is queued, never dropped.
    if (v) gtk_widget_queue_draw(v->widget);
}

void set_timer(uint32_t index, const kiv_value* rate) {
    uint32_t t = type_of(rate);
    int64_t n = t == TYPE_INTEGER ? integer::get_value(rate) : 0;
    double seconds = t == TYPE_TIME ? cell::get_float(rate) : 0;
    int32_t period = rate_period(t, n, seconds);
    if (period < 0) fire(err::SCRIPT, err::script::invalid_facet_type, rate);
    if (view_at(index)) start_timer(index, period);
}

// Measured as the face's text box would lay it out, without wrapping.
void text_size(kiv_value* face, kiv_value* text, double* width, double* height) {
    kiv_value t = *text;
    int32_t bytes = -1;
    const char* utf8 = unicode::to_utf8(&t, &bytes);
    text_box::box b(utf8, size_t(std::max(bytes, 0)), fonts::read(facet(face, FACET_FONT)), fonts::para_look{}, 0, 0);
    PangoRectangle logical;
    pango_layout_get_extents(b.layout(), nullptr, &logical);
    *width = logical.width / double(PANGO_SCALE), *height = logical.height / double(PANGO_SCALE);
}

cairo_surface_t* face_to_surface(kiv_value* face) {
    view* v = view_at(view_of_face(face));
    if (!v) return nullptr;
    GtkWidget* w = v->kind == K_WINDOW ? v->box : v->widget;
    int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 1), std::max(height, 1));
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(w, cr);
    cairo_destroy(cr);
    return surface;
}

}  // namespace kiv::gui
