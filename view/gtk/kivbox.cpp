// KivBox: a GtkContainer with its own GdkWindow that places children
// exactly and clips them.
#include "view/gtk/kivbox.h"

#include "view/gtk/face_paint.h"

#include <algorithm>
#include <vector>

namespace kiv::gui {

namespace {

unsigned long paints = 0;

struct child_place {
    GtkWidget* widget;
    int x, y, w, h;
};

struct KivBox {
    GtkContainer parent;
    std::vector<child_place>* children;
    double rgba[4];
    box_text* text;
    cairo_surface_t* image;
    bool frame;
};

struct KivBoxClass {
    GtkContainerClass parent_class;
};

G_DEFINE_TYPE(KivBox, kiv_box, GTK_TYPE_CONTAINER)

KivBox* self(GtkWidget* w) { return reinterpret_cast<KivBox*>(w); }

void kiv_box_init(KivBox* box) {
    gtk_widget_set_has_window(GTK_WIDGET(box), TRUE);
    box->children = new std::vector<child_place>();
    box->text = new box_text();
    for (double& c : box->rgba) c = 0;
    box->image = nullptr;
    box->frame = false;
}

void kiv_box_finalize(GObject* object) {
    KivBox* box = reinterpret_cast<KivBox*>(object);
    delete box->children;
    delete box->text;
    if (box->image) cairo_surface_destroy(box->image);
    G_OBJECT_CLASS(kiv_box_parent_class)->finalize(object);
}

void realize(GtkWidget* widget) {
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    GdkWindowAttr attrs{};
    attrs.window_type = GDK_WINDOW_CHILD;
    attrs.x = a.x;
    attrs.y = a.y;
    attrs.width = a.width;
    attrs.height = a.height;
    attrs.wclass = GDK_INPUT_OUTPUT;
    attrs.visual = gtk_widget_get_visual(widget);
    attrs.event_mask = gtk_widget_get_events(widget) | GDK_EXPOSURE_MASK;
    GdkWindow* window = gdk_window_new(gtk_widget_get_parent_window(widget), &attrs,
                                       GDK_WA_X | GDK_WA_Y | GDK_WA_VISUAL);
    gtk_widget_register_window(widget, window);
    gtk_widget_set_window(widget, window);
    gtk_widget_set_realized(widget, TRUE);
}

void size_allocate(GtkWidget* widget, GtkAllocation* a) {
    gtk_widget_set_allocation(widget, a);
    if (gtk_widget_get_realized(widget))
        gdk_window_move_resize(gtk_widget_get_window(widget), a->x, a->y, a->width, a->height);
    for (const child_place& c : *self(widget)->children) {
        if (!gtk_widget_get_visible(c.widget)) continue;
        // GTK wants every child measured before it is placed.
        GtkRequisition minimum;
        gtk_widget_get_preferred_size(c.widget, &minimum, nullptr);
        GtkAllocation ca{c.x, c.y, std::max(c.w, 1), std::max(c.h, 1)};
        gtk_widget_size_allocate(c.widget, &ca);
    }
}

// The size is the face's, set by the parent through the placement; alone in
// a window the box asks for what the window was given.
void preferred_width(GtkWidget* widget, int* minimum, int* natural) {
    int w = 0;
    gtk_widget_get_size_request(widget, &w, nullptr);
    *minimum = *natural = std::max(w, 0);
}

void preferred_height(GtkWidget* widget, int* minimum, int* natural) {
    int h = 0;
    gtk_widget_get_size_request(widget, nullptr, &h);
    *minimum = *natural = std::max(h, 0);
}

// The box's own text, placed by its para: wrapped to the box's width when
// asked, aligned left, centred or right and top, middle or bottom.
PangoLayout* text_layout(GtkWidget* widget, const box_text& t) {
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, t.text.c_str());
    PangoFontDescription* desc = pango_font_description_from_string(t.font.c_str());
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    PangoAttrList* attrs = pango_attr_list_new();
    if (t.underline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (t.strike) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
    return layout;
}

void paint_text(GtkWidget* widget, cairo_t* cr, const box_text& t, int w, int h) {
    PangoLayout* layout = text_layout(widget, t);
    static constexpr PangoAlignment ALIGNMENTS[] = {PANGO_ALIGN_LEFT, PANGO_ALIGN_CENTER, PANGO_ALIGN_RIGHT};
    if (t.para.wrap) {
        pango_layout_set_width(layout, std::max(w, 1) * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_alignment(layout, ALIGNMENTS[t.para.h]);
    }
    int tw, th;
    pango_layout_get_pixel_size(layout, &tw, &th);
    int x = t.para.wrap || t.para.h == fonts::ALIGN_LEFT ? 0 : t.para.h == fonts::ALIGN_CENTER ? (w - tw) / 2 : w - tw;
    int y = t.para.v == fonts::ALIGN_TOP ? 0 : t.para.v == fonts::ALIGN_MIDDLE ? (h - th) / 2 : h - th;
    cairo_set_source_rgb(cr, t.rgb[0], t.rgb[1], t.rgb[2]);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

// A group box: a thin frame around the face whose top edge runs through
// the middle of the caption, which stands a little in from the left and
// breaks the edge.
void paint_group_frame(GtkWidget* widget, cairo_t* cr, const box_text& t, int w, int h) {
    constexpr int CAPTION_X = 8, GAP = 2;
    int tw = 0, th = 0;
    PangoLayout* layout = nullptr;
    if (!t.text.empty()) {
        layout = text_layout(widget, t);
        pango_layout_get_pixel_size(layout, &tw, &th);
    }
    double top = th / 2 + 0.5, left = 0.5, right = w - 0.5, bottom = h - 0.5;
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 0.63, 0.63, 0.63);
    if (tw > 0) {
        double gap_end = std::min<double>(CAPTION_X + tw + GAP, right);
        cairo_move_to(cr, CAPTION_X - GAP, top);
        cairo_line_to(cr, left, top);
        cairo_line_to(cr, left, bottom);
        cairo_line_to(cr, right, bottom);
        cairo_line_to(cr, right, top);
        cairo_line_to(cr, gap_end, top);
    } else {
        cairo_rectangle(cr, left, top, right - left, bottom - top);
    }
    cairo_stroke(cr);
    if (layout) {
        cairo_set_source_rgb(cr, t.rgb[0], t.rgb[1], t.rgb[2]);
        cairo_move_to(cr, CAPTION_X, 0);
        pango_cairo_show_layout(cr, layout);
        g_object_unref(layout);
    }
}

gboolean draw(GtkWidget* widget, cairo_t* screen) {
    paints++;
    KivBox* box = self(widget);
    int w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
    // A face that draws is painted into an image surface first, so that its
    // pixels are those the same drawing gives in an image.
    cairo_t* cr = screen;
    cairo_surface_t* own = nullptr;
    if (face_paints_itself(widget) && w > 0 && h > 0) {
        int k = gtk_widget_get_scale_factor(widget);
        own = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w * k, h * k);
        cairo_surface_set_device_scale(own, k, k);
        cr = cairo_create(own);
    }
    if (box->rgba[3] > 0) {
        cairo_set_source_rgba(cr, box->rgba[0], box->rgba[1], box->rgba[2], box->rgba[3]);
        cairo_rectangle(cr, 0, 0, w, h);
        cairo_fill(cr);
    }
    if (box->image) {
        // A camera's latest frame fills the face, over its colour.
        int iw = cairo_image_surface_get_width(box->image), ih = cairo_image_surface_get_height(box->image);
        cairo_save(cr);
        cairo_scale(cr, double(w) / std::max(iw, 1), double(h) / std::max(ih, 1));
        cairo_set_source_surface(cr, box->image, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    paint_face(widget, cr, false);
    if (box->frame) paint_group_frame(widget, cr, *box->text, w, h);
    else if (!box->text->text.empty()) paint_text(widget, cr, *box->text, w, h);
    paint_face(widget, cr, true);
    if (own) {
        cairo_destroy(cr);
        cairo_set_source_surface(screen, own, 0, 0);
        cairo_paint(screen);
        cairo_surface_destroy(own);
        cr = screen;
    }
    for (const child_place& c : *box->children) gtk_container_propagate_draw(GTK_CONTAINER(widget), c.widget, cr);
    return FALSE;
}

void add(GtkContainer* container, GtkWidget* child) {
    kivbox_put(GTK_WIDGET(container), child, 0, 0, 1, 1);
}

void remove(GtkContainer* container, GtkWidget* child) {
    auto& children = *self(GTK_WIDGET(container))->children;
    auto it = std::find_if(children.begin(), children.end(), [&](const child_place& c) { return c.widget == child; });
    if (it == children.end()) return;
    bool visible = gtk_widget_get_visible(child);
    gtk_widget_unparent(child);
    children.erase(it);
    if (visible) gtk_widget_queue_resize(GTK_WIDGET(container));
}

void forall(GtkContainer* container, gboolean, GtkCallback callback, gpointer data) {
    // The callback may remove the child it is given.
    std::vector<GtkWidget*> copy;
    for (const child_place& c : *self(GTK_WIDGET(container))->children) copy.push_back(c.widget);
    for (GtkWidget* w : copy) callback(w, data);
}

void kiv_box_class_init(KivBoxClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = kiv_box_finalize;
    GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
    widget->realize = realize;
    widget->size_allocate = size_allocate;
    widget->get_preferred_width = preferred_width;
    widget->get_preferred_height = preferred_height;
    widget->draw = draw;
    GtkContainerClass* container = GTK_CONTAINER_CLASS(klass);
    container->add = add;
    container->remove = remove;
    container->forall = forall;
    gtk_container_class_handle_border_width(container);
}

}  // namespace

unsigned long kivbox_paints() { return paints; }

GtkWidget* kivbox_new() { return GTK_WIDGET(g_object_new(kiv_box_get_type(), nullptr)); }

void kivbox_put(GtkWidget* widget, GtkWidget* child, int x, int y, int w, int h) {
    auto& children = *self(widget)->children;
    for (child_place& c : children) {
        if (c.widget != child) continue;
        c.x = x, c.y = y, c.w = w, c.h = h;
        gtk_widget_queue_resize(widget);
        return;
    }
    children.push_back({child, x, y, w, h});
    gtk_widget_set_parent(child, widget);
    gtk_widget_queue_resize(widget);
}

void kivbox_remove(GtkWidget* box, GtkWidget* child) { remove(GTK_CONTAINER(box), child); }

void kivbox_restack(GtkWidget* widget, GtkWidget* const* order, int count) {
    auto& children = *self(widget)->children;
    std::vector<child_place> sorted;
    for (int i = 0; i < count; i++)
        for (const child_place& c : children)
            if (c.widget == order[i]) sorted.push_back(c);
    for (const child_place& c : children)
        if (std::find_if(sorted.begin(), sorted.end(), [&](const child_place& s) { return s.widget == c.widget; }) ==
            sorted.end())
            sorted.insert(sorted.begin(), c);
    children = sorted;
    for (const child_place& c : children) {
        GdkWindow* w = gtk_widget_get_has_window(c.widget) ? gtk_widget_get_window(c.widget) : nullptr;
        if (w && gtk_widget_get_realized(c.widget)) gdk_window_raise(w);
    }
    gtk_widget_queue_draw(widget);
}

void kivbox_set_color(GtkWidget* widget, double r, double g, double b, double a) {
    KivBox* box = self(widget);
    box->rgba[0] = r, box->rgba[1] = g, box->rgba[2] = b, box->rgba[3] = a;
    gtk_widget_queue_draw(widget);
}

void kivbox_set_frame(GtkWidget* widget, bool on) {
    self(widget)->frame = on;
    gtk_widget_queue_draw(widget);
}

void kivbox_set_text(GtkWidget* widget, const box_text& t) {
    *self(widget)->text = t;
    gtk_widget_queue_draw(widget);
}

void kivbox_set_image(GtkWidget* widget, cairo_surface_t* image) {
    KivBox* box = self(widget);
    if (box->image) cairo_surface_destroy(box->image);
    box->image = image;
    gtk_widget_queue_draw(widget);
}

}  // namespace kiv::gui
