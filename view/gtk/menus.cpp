// Menus: a window's menu bar and any face's context menu, built from the
// face's `menu` block. Choosing an item raises `menu` with the item's word
// in `picked`.
#include "view/gtk/menus.h"

#include <algorithm>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

// The context menu shown last, the face that showed it and where the click was.
GtkWidget* context_menu = nullptr;
uint32_t context_view = 0;
double context_x = 0, context_y = 0;

bool word_named_q(const kiv_value* v, const char* name) {
    return any_word_q(type_of(v)) && !strcasecmp(symbol::name_of(word::symbol_of(v)), name);
}

void on_item(GtkMenuItem* item, gpointer) {
    uint32_t index = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "kiv-menu-view"));
    bool context = g_object_get_data(G_OBJECT(item), "kiv-menu-context") != nullptr;
    if (context) index = context_view;
    if (!view_at(index)) return;
    event_args e;
    e.type = ev::MENU;
    e.picked = none_value;
    int32_t symbol = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "kiv-menu-word")) - 1;
    if (symbol >= 0) word::make_at(symbol, &e.picked);
    if (context) {
        e.has_offset = true;
        e.x = context_x, e.y = context_y;
        context_view = 0;
    }
    raise(index, e);
}

}  // namespace

int32_t build_menu(GtkMenuShell* shell, kiv_value* menu, uint32_t index, bool context, menu_entry_fn entry) {
    if (type_of(menu) != TYPE_BLOCK) return 0;
    kiv_value blk = *menu;
    int32_t n = 0;
    int32_t length = block::ks_length_q(&blk);
    for (int32_t i = 0; i < length; i++) {
        kiv_value* v = block::ks_head(&blk) + i;
        if (type_of(v) == TYPE_STRING) {
            kiv_value* next = i + 1 < length ? v + 1 : nullptr;
            GtkWidget* item = nullptr;
            if (shell) {
                std::string label = text_of(v);
                item = gtk_menu_item_new_with_label(label.c_str());
                g_object_set_data(G_OBJECT(item), "kiv-menu-view", GUINT_TO_POINTER(index));
                if (context) g_object_set_data(G_OBJECT(item), "kiv-menu-context", GUINT_TO_POINTER(1));
            }
            int32_t symbol = -1;
            if (next && type_of(next) == TYPE_BLOCK) {
                if (shell) {
                    GtkWidget* sub = gtk_menu_new();
                    build_menu(GTK_MENU_SHELL(sub), next, index, context, entry);
                    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
                } else {
                    build_menu(nullptr, next, index, context, entry);
                }
                i++;
            } else if (next && any_word_q(type_of(next))) {
                symbol = word::symbol_of(next);
                i++;
            }
            if (entry) entry(n, false, symbol);
            if (shell) {
                g_object_set_data(G_OBJECT(item), "kiv-menu-word", GINT_TO_POINTER(symbol + 1));
                if (!(next && type_of(next) == TYPE_BLOCK))
                    g_signal_connect(item, "activate", G_CALLBACK(on_item), nullptr);
                gtk_menu_shell_append(shell, item);
            }
            n++;
        } else if (word_named_q(v, "---")) {
            if (entry) entry(n, true, -1);
            if (shell) gtk_menu_shell_append(shell, gtk_separator_menu_item_new());
            n++;
        }
    }
    if (shell) gtk_widget_show_all(GTK_WIDGET(shell));
    return n;
}

bool menu_bar_q(kiv_value* menu, face_kind kind) {
    if (kind != K_WINDOW || type_of(menu) != TYPE_BLOCK || block::ks_length_q(menu) == 0) return false;
    return !word_named_q(block::ks_head(menu), "popup");
}

int menu_bar_height(uint32_t index) {
    view* v = view_at(index);
    if (!v || v->kind != K_WINDOW) return 0;
    GtkWidget* bar = GTK_WIDGET(g_object_get_data(G_OBJECT(v->widget), "kiv-menu-bar"));
    if (!bar) return 0;
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height(bar, &minimum, &natural);
    return natural;
}

void apply_menu(uint32_t index) {
    view* v = view_at(index);
    if (!v || v->kind != K_WINDOW) return;
    int before = menu_bar_height(index);
    GtkWidget* content = GTK_WIDGET(g_object_get_data(G_OBJECT(v->widget), "kiv-content"));
    GtkWidget* old = GTK_WIDGET(g_object_get_data(G_OBJECT(v->widget), "kiv-menu-bar"));
    if (old) gtk_widget_destroy(old);
    g_object_set_data(G_OBJECT(v->widget), "kiv-menu-bar", nullptr);
    kiv_value* menu = facet(face_of(index), FACET_MENU);
    if (content && menu_bar_q(menu, v->kind)) {
        GtkWidget* bar = gtk_menu_bar_new();
        build_menu(GTK_MENU_SHELL(bar), menu, index, false, nullptr);
        gtk_box_pack_start(GTK_BOX(content), bar, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(content), bar, 0);
        gtk_widget_show_all(bar);
        g_object_set_data(G_OBJECT(v->widget), "kiv-menu-bar", bar);
    }
    // A menu bar that comes or goes leaves the client area as it was: the
    // window grows or shrinks by the bar.
    int change = menu_bar_height(index) - before;
    if (change && gtk_widget_get_realized(v->widget)) {
        int w = 0, h = 0;
        gtk_window_get_size(GTK_WINDOW(v->widget), &w, &h);
        gtk_window_resize(GTK_WINDOW(v->widget), w, std::max(h + change, 1));
    }
}

bool show_context_menu(uint32_t index, const GdkEventButton* ev, double x, double y) {
    view* v = view_at(index);
    if (!v) return false;
    kiv_value* menu = facet(face_of(index), FACET_MENU);
    if (type_of(menu) != TYPE_BLOCK || menu_bar_q(menu, v->kind)) return false;
    if (context_menu) gtk_widget_destroy(context_menu);
    context_menu = gtk_menu_new();
    build_menu(GTK_MENU_SHELL(context_menu), menu, index, true, nullptr);
    GtkWidget* anchor = v->kind == K_WINDOW ? v->box : v->widget;
    gtk_menu_attach_to_widget(GTK_MENU(context_menu), anchor, nullptr);
    context_view = index;
    context_x = x, context_y = y;
    gtk_menu_popup_at_pointer(GTK_MENU(context_menu), reinterpret_cast<const GdkEvent*>(ev));
    return true;
}

void forget_menus(uint32_t index) {
    if (context_view == index) context_view = 0;
    view* v = view_at(index);
    if (context_menu && v && gtk_menu_get_attach_widget(GTK_MENU(context_menu)) == (v->box ? v->box : v->widget)) {
        gtk_widget_destroy(context_menu);
        context_menu = nullptr;
    }
}

}  // namespace kiv::gui
