// The tab-panel: a GtkNotebook that shows the tabs, under the pages of the
// face's pane, which the box places over the notebook's display area. Only
// the page of the selected tab shows.
#include "view/gtk/tabs.h"

#include <algorithm>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"
#include "view/gtk/kivbox.h"
#include "view/gtk/widgets.h"

namespace kiv::gui {

namespace {

int quiet = 0;

GtkNotebook* notebook_of(view* v) { return GTK_NOTEBOOK(g_object_get_data(G_OBJECT(v->widget), "kiv-notebook")); }

kiv_value int_value(int32_t n) {
    kiv_value v;
    integer::make_at(&v, n);
    return v;
}

// Page k (0-based) of the pane shows; the others hide.
void show_page(uint32_t index, int k) {
    kiv_value pane = *facet(face_of(index), FACET_PANE);
    if (type_of(&pane) != TYPE_BLOCK) return;
    bool visible = logic::truthy(facet(face_of(index), FACET_VISIBLE_Q));
    for (int32_t i = 0; i < block::ks_length_q(&pane); i++) {
        kiv_value* page = block::ks_head(&pane) + i;
        view* p = view_at(view_of_face(page));
        if (!p) continue;
        bool on = visible && i == k;
        *facet(page, FACET_VISIBLE_Q) = on ? true_value : false_value;
        gtk_widget_set_visible(p->widget, on);
    }
}

// Every page of the pane over the notebook's display area.
void fit_pages(uint32_t index) {
    view* v = view_at(index);
    GtkNotebook* nb = notebook_of(v);
    int current = gtk_notebook_get_current_page(nb);
    GtkWidget* shown = current >= 0 ? gtk_notebook_get_nth_page(nb, current) : nullptr;
    if (!shown) return;
    GtkAllocation a, n;
    gtk_widget_get_allocation(shown, &a);
    gtk_widget_get_allocation(GTK_WIDGET(nb), &n);
    int x = a.x - (gtk_widget_get_has_window(GTK_WIDGET(nb)) ? 0 : n.x), y = a.y - (gtk_widget_get_has_window(GTK_WIDGET(nb)) ? 0 : n.y);
    kiv_value pane = *facet(face_of(index), FACET_PANE);
    if (type_of(&pane) != TYPE_BLOCK) return;
    for (int32_t i = 0; i < block::ks_length_q(&pane); i++) {
        kiv_value* page = block::ks_head(&pane) + i;
        view* p = view_at(view_of_face(page));
        if (!p || gtk_widget_get_parent(p->widget) != v->box) continue;
        point::make_at(facet(page, FACET_OFFSET), TYPE_POINT2D, unscale(x), unscale(y));
        point::make_at(facet(page, FACET_SIZE), TYPE_POINT2D, unscale(a.width), unscale(a.height));
        kivbox_put(v->box, p->widget, x, y, a.width, a.height);
    }
}

void on_allocate(GtkWidget*, GdkRectangle*, gpointer box) {
    uint32_t index = view_of_widget(GTK_WIDGET(box));
    if (index) fit_pages(index);
}

void on_switched(GtkNotebook* nb, GtkWidget*, guint page, gpointer box) {
    uint32_t index = view_of_widget(GTK_WIDGET(box));
    if (!index) return;
    if (quiet || widget_quiet()) {
        show_page(index, int(page));
        return;
    }
    kiv_value* selected = facet(face_of(index), FACET_SELECTED);
    int before = type_of(selected) == TYPE_INTEGER ? integer::get_value(selected) : 1;
    if (before == int(page) + 1) return;
    event_args e;
    e.type = ev::SELECT;
    e.picked = int_value(before);
    if (raise(index, e)) {
        // Refused: back to the tab that was selected.
        if (!view_at(index)) return;
        quiet++;
        gtk_notebook_set_current_page(nb, before - 1);
        quiet--;
        return;
    }
    if (!view_at(index)) return;
    show_page(index, int(page));
    integer::make_at(facet(face_of(index), FACET_SELECTED), int32_t(page) + 1);
    e.type = ev::CHANGE;
    e.picked = int_value(int32_t(page) + 1);
    raise(index, e);
}

}  // namespace

void setup_tabs(uint32_t index) {
    view* v = view_at(index);
    GtkWidget* nb = gtk_notebook_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(nb), "kiv-face");
    g_object_set_data(G_OBJECT(v->widget), "kiv-notebook", nb);
    g_signal_connect_after(nb, "switch-page", G_CALLBACK(on_switched), v->widget);
    g_signal_connect_after(nb, "size-allocate", G_CALLBACK(on_allocate), v->widget);
    gtk_widget_show(nb);
    apply_tabs(index, 1u << FACET_DATA | 1u << FACET_SIZE);
}

void apply_tabs(uint32_t index, uint32_t bits) {
    view* v = view_at(index);
    GtkNotebook* nb = notebook_of(v);
    if (!nb) return;
    quiet++;
    if (bits & (1u << FACET_SIZE | 1u << FACET_OFFSET)) {
        kiv_value* size = facet(face_of(index), FACET_SIZE);
        double sw = 0, sh = 0;
        if (type_of(size) == TYPE_PAIR || type_of(size) == TYPE_POINT2D) {
            sw = type_of(size) == TYPE_POINT2D ? point::component(size, 0) : pair::x_of(size);
            sh = type_of(size) == TYPE_POINT2D ? point::component(size, 1) : pair::y_of(size);
        }
        kivbox_put(v->box, GTK_WIDGET(nb), 0, 0, scale(sw), scale(sh));
    }
    if (bits & (1u << FACET_DATA)) {
        while (gtk_notebook_get_n_pages(nb) > 0) gtk_notebook_remove_page(nb, -1);
        kiv_value data = *facet(face_of(index), FACET_DATA);
        if (type_of(&data) == TYPE_BLOCK)
            for (int32_t i = 0; i < block::ks_length_q(&data); i++) {
                kiv_value* s = block::ks_head(&data) + i;
                if (type_of(s) != TYPE_STRING) continue;
                GtkWidget* page = gtk_event_box_new();
                gtk_widget_show(page);
                GtkWidget* label = gtk_label_new(text_of(s).c_str());
                gtk_notebook_append_page(nb, page, label);
            }
    }
    if (bits & (1u << FACET_DATA | 1u << FACET_SELECTED)) {
        int count = gtk_notebook_get_n_pages(nb);
        kiv_value* selected = facet(face_of(index), FACET_SELECTED);
        int n = type_of(selected) == TYPE_INTEGER ? std::clamp(integer::get_value(selected), 1, std::max(count, 1)) : 1;
        integer::make_at(selected, n);
        if (count) gtk_notebook_set_current_page(nb, n - 1);
        show_page(index, n - 1);
    }
    quiet--;
}

}  // namespace kiv::gui
