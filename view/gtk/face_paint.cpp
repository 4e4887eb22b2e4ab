// Faces that paint themselves, and faces captured into images.
#include "view/gtk/face_paint.h"

#include <algorithm>
#include <strings.h>

#include "runtime/boot.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "view/gtk/draw_cairo.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

// The face painting now and its draw context, for `draw-face`.
struct {
    uint32_t index = 0;
    draw::cairo_context* ctx = nullptr;
} painting;

bool silent_q() {
    kiv_value* view = boot::field(boot::system_object(), "view");
    if (!view || type_of(view) != TYPE_OBJECT) return false;
    kiv_value* s = boot::field(view, "silent?");
    return s && logic::truthy(s);
}

bool face_size(kiv_value* face, double* w, double* h) {
    kiv_value* size = facet(face, FACET_SIZE);
    if (type_of(size) == TYPE_PAIR) {
        *w = pair::x_of(size), *h = pair::y_of(size);
        return true;
    }
    if (type_of(size) == TYPE_POINT2D) {
        *w = point::component(size, 0), *h = point::component(size, 1);
        return true;
    }
    return false;
}

// Kiv code run inside a paint: no error or throw may leave it, since the
// toolkit's frames lie below. Whatever was drawn before a bad command stays.
template <class F>
void caught(F&& f) {
    static const kiv_value* name = word::load("draw");
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    stack::mark_try_all(name);
    try {
        f();
    } catch (const kiv_exit&) {
    }
    sys.pending_exit = LEVEL_NONE;
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
}

void run_caught(draw::cairo_context& ctx, const kiv_value* block) {
    caught([&] { draw::run(ctx, block, silent_q(), true); });
}

// The face's own content on a cairo context in logical pixels.
void paint_content(uint32_t index, cairo_t* cr, bool after_text) {
    view* v = view_at(index);
    if (!v) return;
    kiv_value face = *face_of(index);
    kiv_value img = *facet(&face, FACET_IMAGE), commands = *facet(&face, FACET_DRAW);
    if (!after_text) {
        double w, h;
        if (type_of(&img) != TYPE_IMAGE || !face_size(&face, &w, &h)) return;
        draw::cairo_context ctx(cr);
        draw::point corners[2] = {{0, 0}, {float(w), float(h)}};
        caught([&] { ctx.image(&img, corners, 2, nullptr); });
        return;
    }
    draw::cairo_context ctx(cr);
    if (type_of(&commands) == TYPE_BLOCK) {
        run_caught(ctx, &commands);
        return;
    }
    if (v->kind != K_BASE && v->kind != K_RICH_TEXT) return;
    // Without a block an actor may draw, through `draw-face`, while the
    // event is handled.
    auto saved = painting;
    painting.index = index, painting.ctx = &ctx;
    event_args e;
    e.type = ev::DRAWING;
    raise(index, e);
    painting = saved;
}

}  // namespace

bool face_paints_itself(GtkWidget* box) {
    uint32_t index = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(box), "kiv-view"));
    view* v = view_at(index);
    if (!v) return false;
    if (v->kind == K_BASE || v->kind == K_RICH_TEXT) return true;
    kiv_value* face = face_of(index);
    return type_of(facet(face, FACET_DRAW)) == TYPE_BLOCK || type_of(facet(face, FACET_IMAGE)) == TYPE_IMAGE;
}

void paint_face(GtkWidget* box, cairo_t* cr, bool after_text) {
    uint32_t index = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(box), "kiv-view"));
    if (!view_at(index)) return;
    cairo_save(cr);
    double k = dpi_factor();
    cairo_scale(cr, k, k);
    paint_content(index, cr, after_text);
    cairo_restore(cr);
}

void draw_face(const kiv_value* face, const kiv_value* commands) {
    if (!painting.ctx || type_of(commands) != TYPE_BLOCK || view_of_face(face) != painting.index) return;
    kiv_value block = *commands;
    run_caught(*painting.ctx, &block);
}

namespace {

// What the view layer's `face?` asks of an object.
bool face_q(const kiv_value* value) {
    if (type_of(value) != TYPE_OBJECT) return false;
    for (const char* w : {"type", "offset", "size", "parent", "pane", "state", "para", "font", "actors"})
        if (object::find_word(value, word::load(w)) < 0) return false;
    return true;
}

kiv_value* image_of(cairo_surface_t* s) {
    cairo_surface_flush(s);
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    kiv_value* img = image::push(uint32_t(w), uint32_t(h));
    uint32_t* px = image::lock(img, true);
    for (int y = 0; px && y < h; y++)
        image::unpremultiply(reinterpret_cast<const uint32_t*>(data + int64_t(y) * stride), px + int64_t(y) * w,
                             uint32_t(w));
    image::unlock(img);
    return img;
}

// The whole screen, as the display shows it.
cairo_surface_t* capture_screen(kiv_value* face) {
    GdkWindow* root = gdk_get_default_root_window();
    if (!root) return nullptr;
    double lw = 0, lh = 0;
    int w = gdk_window_get_width(root), h = gdk_window_get_height(root);
    if (face_size(face, &lw, &lh) && lw > 0 && lh > 0) w = std::min(w, scale(lw)), h = std::min(h, scale(lh));
    if (w < 1 || h < 1) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    gdk_cairo_set_source_window(cr, root, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return s;
}

bool screen_q(kiv_value* face) {
    kiv_value* t = facet(face, FACET_TYPE);
    return any_word_q(type_of(t)) && strcasecmp(symbol::name_of(word::symbol_of(t)), "screen") == 0;
}

}  // namespace

kiv_value* capture_face(const kiv_value* value) {
    if (!face_q(value)) return nullptr;
    kiv_value face = *value;
    if (screen_q(&face) && active_q()) {
        if (cairo_surface_t* s = capture_screen(&face)) {
            kiv_value* img = image_of(s);
            cairo_surface_destroy(s);
            return img;
        }
    }
    uint32_t index = view_of_face(&face);
    view* v = view_at(index);
    if (!v || !active_q()) {
        kiv_value* none = stack::push();
        *none = none_value;
        return none;
    }
    GtkWidget* w = v->kind == K_WINDOW ? v->box : v->widget;
    cairo_surface_t* s = nullptr;
    if (gtk_widget_is_drawable(w)) {
        // On screen: the widget paints itself, children and all.
        s = face_to_surface(&face);
    } else if (v->box == v->widget) {
        // Not shown: a box face is rendered at its size: colour, image
        // and draw block.
        double lw = 0, lh = 0;
        face_size(&face, &lw, &lh);
        int dw = std::clamp(scale(lw), 1, 16384), dh = std::clamp(scale(lh), 1, 16384);
        s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, dw, dh);
        cairo_t* cr = cairo_create(s);
        kiv_value* colour = facet(&face, FACET_COLOR);
        if (type_of(colour) == TYPE_TUPLE && tuple::length_of(colour) >= 3) {
            const uint8_t* b = tuple::bytes_of(colour);
            cairo_set_source_rgba(cr, b[0] / 255.0, b[1] / 255.0, b[2] / 255.0,
                                  tuple::length_of(colour) > 3 ? (255 - b[3]) / 255.0 : 1.0);
            cairo_paint(cr);
        }
        paint_face(w, cr, false);
        paint_face(w, cr, true);
        cairo_destroy(cr);
    }
    if (!s) {
        kiv_value* none = stack::push();
        *none = none_value;
        return none;
    }
    kiv_value* img = image_of(s);
    cairo_surface_destroy(s);
    return img;
}

}  // namespace kiv::gui
