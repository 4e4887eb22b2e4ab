#include "view/gtk/scrollbars.h"

#include <algorithm>
#include <cmath>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"
#include "view/gtk/kivbox.h"

namespace kiv::gui {

namespace {

enum { VERTICAL = 0, HORIZONTAL = 1 };
enum { SC_POSITION = 0, SC_PAGE_SIZE = 1, SC_MAX_SIZE = 3, SC_VISIBLE_Q = 4, SC_VERTICAL_Q = 5, SC_PARENT = 6 };

kiv_value word_value(const char* name) { return *word::load(name); }

// The key of a `scroll` event: what the user did to the bar.
const char* scroll_key(GtkScrollType how, bool vertical) {
    switch (how) {
        case GTK_SCROLL_STEP_BACKWARD: case GTK_SCROLL_STEP_UP: case GTK_SCROLL_STEP_LEFT:
            return vertical ? "up" : "left";
        case GTK_SCROLL_STEP_FORWARD: case GTK_SCROLL_STEP_DOWN: case GTK_SCROLL_STEP_RIGHT:
            return vertical ? "down" : "right";
        case GTK_SCROLL_PAGE_BACKWARD: case GTK_SCROLL_PAGE_UP: case GTK_SCROLL_PAGE_LEFT:
            return vertical ? "page-up" : "page-left";
        case GTK_SCROLL_PAGE_FORWARD: case GTK_SCROLL_PAGE_DOWN: case GTK_SCROLL_PAGE_RIGHT:
            return vertical ? "page-down" : "page-right";
        case GTK_SCROLL_JUMP:
            return "track";
        default:
            return "end";
    }
}

// The bar was used: the face hears of it with the position the thumb was
// dragged to (`track`) or stands at. The bar itself stays where it is until
// the program moves it through its scroller.
gboolean on_change_value(GtkRange* range, GtkScrollType how, double value, gpointer data) {
    uint32_t index = GPOINTER_TO_UINT(data);
    if (!view_at(index)) return TRUE;
    bool vertical = gtk_orientable_get_orientation(GTK_ORIENTABLE(range)) == GTK_ORIENTATION_VERTICAL;
    event_args e;
    e.type = ev::SCROLL;
    e.key = word_value(scroll_key(how, vertical));
    double at = how == GTK_SCROLL_JUMP ? value : gtk_range_get_value(range);
    integer::make_at(&e.picked, int32_t(std::lround(at)));
    e.orientation = word_value(vertical ? "vertical" : "horizontal");
    raise(index, e);
    return TRUE;
}

int thickness(GtkWidget* bar, bool vertical) {
    int minimum = 0, natural = 0;
    if (vertical) gtk_widget_get_preferred_width(bar, &minimum, &natural);
    else gtk_widget_get_preferred_height(bar, &minimum, &natural);
    return std::max(natural, 1);
}

bool shown(GtkWidget* bar) { return bar && gtk_widget_get_visible(bar); }

// Range 1 .. max with a page: the last position shows the last page, as
// the thumb's far end meets the end of the range.
void set_range(GtkWidget* bar, const kiv_value* page, const kiv_value* max) {
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(bar));
    double top = type_of(max) == TYPE_INTEGER ? integer::get_value(max) : gtk_adjustment_get_upper(a) - 1;
    double p = type_of(page) == TYPE_INTEGER ? integer::get_value(page) : gtk_adjustment_get_page_size(a);
    top = std::max(top, 1.0), p = std::max(p, 1.0);
    gtk_adjustment_configure(a, gtk_adjustment_get_value(a), 1, top + 1, 1, p, p);
    // Nothing to scroll: the bar stays, greyed.
    gtk_widget_set_sensitive(bar, p < top);
}

}  // namespace

void attach_scrollbars(uint32_t index) {
    view* v = view_at(index);
    if (!v || !v->box || v->kind == K_WINDOW || !(v->flags & FACET_SCROLLABLE)) return;
    for (int i : {VERTICAL, HORIZONTAL}) {
        GtkAdjustment* a = gtk_adjustment_new(1, 1, 2, 1, 1, 1);
        GtkWidget* bar = gtk_scrollbar_new(i == VERTICAL ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, a);
        g_signal_connect(bar, "change-value", G_CALLBACK(on_change_value), GUINT_TO_POINTER(index));
        kivbox_put(v->box, bar, 0, 0, 1, 1);
        gtk_widget_show(bar);
        v->bars[i] = bar;
    }
}

void place_scrollbars(uint32_t index, int w, int h) {
    view* v = view_at(index);
    if (!v || !v->bars[VERTICAL]) return;
    v->face_w = w, v->face_h = h;
    GtkWidget* vbar = v->bars[VERTICAL];
    GtkWidget* hbar = v->bars[HORIZONTAL];
    int vw = shown(vbar) ? thickness(vbar, true) : 0;
    int hh = shown(hbar) ? thickness(hbar, false) : 0;
    // The bars meet at the corner: each stops short of the other.
    kivbox_put(v->box, vbar, std::max(w - vw, 0), 0, vw ? vw : 1, std::max(h - hh, 1));
    kivbox_put(v->box, hbar, 0, std::max(h - hh, 0), std::max(w - vw, 1), hh ? hh : 1);
}

void update_scroller(kiv_value* scroller, int32_t field) {
    if (type_of(scroller) != TYPE_OBJECT || object::words_count(scroller) <= SC_PARENT) return;
    kiv_value* fields = object::get_values(scroller);
    view* v = view_at(view_of_face(&fields[SC_PARENT]));
    if (!v || !v->bars[VERTICAL]) return;
    bool vertical = type_of(&fields[SC_VERTICAL_Q]) != TYPE_LOGIC || logic::get(&fields[SC_VERTICAL_Q]);
    GtkWidget* bar = v->bars[vertical ? VERTICAL : HORIZONTAL];
    switch (field) {
        case SC_POSITION:
            if (type_of(&fields[SC_POSITION]) == TYPE_INTEGER)
                gtk_range_set_value(GTK_RANGE(bar), integer::get_value(&fields[SC_POSITION]));
            break;
        case SC_PAGE_SIZE: case SC_MAX_SIZE:
            set_range(bar, &fields[SC_PAGE_SIZE], &fields[SC_MAX_SIZE]);
            break;
        case SC_VISIBLE_Q: {
            const kiv_value* visible = &fields[SC_VISIBLE_Q];
            gtk_widget_set_visible(bar, type_of(visible) != TYPE_LOGIC || logic::get(visible));
            place_scrollbars(view_of_face(&fields[SC_PARENT]), v->face_w, v->face_h);
            break;
        }
        default:
            break;
    }
}

}  // namespace kiv::gui
