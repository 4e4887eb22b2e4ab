// Base, rich-text and panel faces painting their colour and image, alpha
// between faces, translucent windows where a compositor runs, and the mouse
// cursor of every face.
#include "view/gtk/windows.h"

#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"
#include "view/gtk/kivbox.h"

namespace kiv::gui {

namespace {

kiv_value* option(kiv_value* face, const char* name) {
    kiv_value* options = facet(face, FACET_OPTIONS);
    if (type_of(options) != TYPE_BLOCK) return nullptr;
    int32_t n = block::ks_length_q(options);
    // An options block of odd length holds no options.
    if (n % 2) return nullptr;
    kiv_value* head = block::ks_head(options);
    for (int32_t i = 0; i + 1 < n; i += 2)
        if (any_word_q(type_of(head + i)) && !strcasecmp(symbol::name_of(word::symbol_of(head + i)), name))
            return head + i + 1;
    return nullptr;
}

// The image's pixels, premultiplied as cairo keeps them.
cairo_surface_t* surface_of(const kiv_value* img) {
    uint32_t w = image::width_of(img), h = image::height_of(img);
    if (!w || !h) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(w), int(h));
    cairo_surface_flush(surface);
    auto* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface));
    int stride = cairo_image_surface_get_stride(surface) / 4;
    const uint32_t* pixels = image::lock(img, false);
    for (uint32_t y = 0; y < h; y++) image::premultiply(pixels + uint64_t(y) * w, out + uint64_t(y) * stride, w);
    image::unlock(img);
    cairo_surface_mark_dirty(surface);
    return surface;
}

void set_cursor(GtkWidget* w, kiv_value* face) {
    GdkWindow* window = gtk_widget_get_window(w);
    if (!window) return;
    kiv_value* cursor = option(face, "cursor");
    GdkCursor* c = nullptr;
    GdkDisplay* display = gtk_widget_get_display(w);
    if (cursor && type_of(cursor) == TYPE_IMAGE) {
        if (cairo_surface_t* s = surface_of(cursor)) {
            c = gdk_cursor_new_from_surface(display, s, 0, 0);
            cairo_surface_destroy(s);
        }
    } else if (cursor && any_word_q(type_of(cursor))) {
        c = gdk_cursor_new_from_name(display, cursor_name(symbol::name_of(word::symbol_of(cursor))));
    }
    gdk_window_set_cursor(window, c);
    if (c) g_object_unref(c);
}

// The input method's candidate window goes where the caret is: at the
// caret face, a face that names in its `caret` option the face it is the
// caret of, in the window's coordinates.
void place_caret(uint32_t index) {
    view* c = view_at(index);
    if (!c || !caret_face_q(face_of(index))) return;
    view* w = view_at(window_of(index));
    if (!w || !w->im || !gtk_widget_get_realized(c->widget)) return;
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(c->widget, w->box, 0, 0, &x, &y)) return;
    GdkRectangle r{x, y, gtk_widget_get_allocated_width(c->widget), gtk_widget_get_allocated_height(c->widget)};
    gtk_im_context_set_client_window(w->im, gtk_widget_get_window(w->box));
    gtk_im_context_set_cursor_location(w->im, &r);
}

void on_realize(GtkWidget* w, gpointer) {
    uint32_t index = view_of_widget(w);
    if (index) set_cursor(w, face_of(index));
}

}  // namespace

bool caret_face_q(kiv_value* face) {
    kiv_value* owner = option(face, "caret");
    return owner && type_of(owner) == TYPE_OBJECT;
}

const char* cursor_name(const char* word) {
    static const struct {
        const char* word;
        const char* name;
    } NAMES[] = {{"I-beam", "text"},         {"hand", "pointer"},        {"cross", "crosshair"},
                 {"resize-ns", "ns-resize"}, {"resize-ew", "ew-resize"}, {"resize-we", "ew-resize"}};
    for (const auto& n : NAMES)
        if (!strcasecmp(n.word, word)) return n.name;
    return "default";
}

double window_alpha(uint32_t index, double alpha) {
    view* v = view_at(index);
    if (!v || v->kind != K_WINDOW || alpha >= 1) return alpha;
    GdkScreen* screen = gtk_widget_get_screen(v->widget);
    GdkVisual* rgba = gdk_screen_get_rgba_visual(screen);
    // Without a compositor nothing shows through: the window stays opaque.
    if (!rgba || !gdk_screen_is_composited(screen)) return 1;
    if (!gtk_widget_get_realized(v->widget)) gtk_widget_set_visual(v->widget, rgba);
    gtk_widget_set_app_paintable(v->widget, TRUE);
    return alpha;
}

void setup_base(uint32_t index) {
    view* v = view_at(index);
    GtkWidget* w = v->kind == K_WINDOW ? v->box : v->widget;
    g_signal_connect(w, "realize", G_CALLBACK(on_realize), nullptr);
    apply_base(index, 1u << FACET_IMAGE);
}

void apply_base(uint32_t index, uint32_t bits) {
    view* v = view_at(index);
    if (!v) return;
    GtkWidget* w = v->kind == K_WINDOW ? v->box : v->widget;
    // The face's image is painted with its draw block (face_paint.cpp).
    if (bits & (1u << FACET_OPTIONS)) set_cursor(w, face_of(index));
    // A caret face that moves takes the input method's window along.
    if (bits & (1u << FACET_OPTIONS | 1u << FACET_OFFSET | 1u << FACET_SIZE)) place_caret(index);
}

}  // namespace kiv::gui
