// Native widgets: filled from their face's facets, and the user's changes
// read back into `data`, `selected` and `text` before their event is raised.
#include "view/gtk/widgets.h"

#include <algorithm>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "view/gtk/events.h"
#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

// Above 0 while the backend itself changes a widget: no event follows.
int quiet = 0;
struct hush {
    hush() { quiet++; }
    ~hush() { quiet--; }
};

bool item_q(const kiv_value* v) {
    switch (type_of(v)) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: return true;
        default: return false;
    }
}

// A string of any text type, as UTF-8.
std::string item_text(kiv_value* v) {
    kiv_value s = *v;
    cell::set_type(&s, TYPE_STRING);
    return text_of(&s);
}

kiv_value int_value(int32_t n) {
    kiv_value v;
    integer::make_at(&v, n);
    return v;
}

kiv_value* face_facet(uint32_t index, uint32_t f) { return facet(face_of(index), f); }

// The root window's `selected` becomes the face, as a click focuses it.
void select_in_window(uint32_t index) {
    uint32_t w = window_of(index);
    if (w && w != index) *face_facet(w, FACET_SELECTED) = *face_of(index);
}

bool raise_with(uint32_t index, uint32_t type, int32_t picked, bool has_picked) {
    event_args e;
    e.type = type;
    if (has_picked) e.picked = int_value(picked);
    return raise(index, e);
}

// The value of a word in the face's `options` block, null when absent.
kiv_value* option(uint32_t index, const char* name) {
    kiv_value* options = face_facet(index, FACET_OPTIONS);
    if (type_of(options) != TYPE_BLOCK) return nullptr;
    kiv_value* head = block::ks_head(options);
    int32_t n = block::ks_length_q(options);
    for (int32_t i = 0; i + 1 < n; i++)
        if (any_word_q(type_of(head + i)) && !strcasecmp(symbol::name_of(word::symbol_of(head + i)), name))
            return head + i + 1;
    return nullptr;
}

// Buttons ------------------------------------------------------------------

void on_clicked(GtkButton* b, gpointer) {
    uint32_t index = view_of_widget(GTK_WIDGET(b));
    if (quiet || !index) return;
    select_in_window(index);
    raise(index, event_args{ev::CLICK});
}

// Check states as the widget shows them: 0 unchecked, 1 checked, 2 neither.
int check_state(GtkToggleButton* t) {
    if (gtk_toggle_button_get_inconsistent(t)) return 2;
    return gtk_toggle_button_get_active(t) ? 1 : 0;
}

void show_check_state(GtkToggleButton* t, int state) {
    hush h;
    gtk_toggle_button_set_inconsistent(t, state == 2);
    // A radio is unchecked by checking the hidden radio of its group.
    auto* other = static_cast<GtkToggleButton*>(g_object_get_data(G_OBJECT(t), "kiv-other-radio"));
    if (other && state != 1) gtk_toggle_button_set_active(other, TRUE);
    else gtk_toggle_button_set_active(t, state == 1);
}

kiv_value state_value(int state) {
    if (state == 2) return none_value;
    return state ? true_value : false_value;
}

void on_toggled(GtkToggleButton* t, gpointer) {
    uint32_t index = view_of_widget(GTK_WIDGET(t));
    if (quiet || !index) return;
    view* v = view_at(index);
    if (v->kind == K_RADIO) {
        // No auto-check: only the press that checks a radio counts.
        if (!gtk_toggle_button_get_active(t)) return;
        *face_facet(index, FACET_DATA) = true_value;
        select_in_window(index);
        raise(index, event_args{ev::CLICK});
        return;
    }
    int state = gtk_toggle_button_get_active(t) ? 1 : 0;
    if (v->kind == K_CHECK && (v->flags & FACET_TRI_STATE)) {
        // Unchecked, checked, neither, and round again.
        kiv_value* data = face_facet(index, FACET_DATA);
        int before = type_of(data) == TYPE_NONE ? 2 : logic::truthy(data) ? 1 : 0;
        state = (before + 1) % 3;
        show_check_state(t, state);
    } else if (gtk_toggle_button_get_inconsistent(t)) {
        show_check_state(t, state);
    }
    *face_facet(index, FACET_DATA) = state_value(state);
    select_in_window(index);
    raise(index, event_args{ev::CHANGE});
}

// Lists and combo boxes ----------------------------------------------------

std::vector<std::string> items_of(kiv_value* data) {
    std::vector<std::string> items;
    if (type_of(data) != TYPE_BLOCK && type_of(data) != TYPE_HASH) return items;
    kiv_value blk = *data;
    for (int32_t i = 0; i < block::ks_length_q(&blk); i++) {
        kiv_value* v = block::ks_head(&blk) + i;
        if (item_q(v)) items.push_back(item_text(v));
    }
    return items;
}

void fill_list(uint32_t index) {
    view* v = view_at(index);
    hush h;
    GtkListBox* list = GTK_LIST_BOX(v->widget);
    GList* rows = gtk_container_get_children(GTK_CONTAINER(list));
    for (GList* r = rows; r; r = r->next) gtk_widget_destroy(GTK_WIDGET(r->data));
    g_list_free(rows);
    for (const std::string& s : items_of(face_facet(index, FACET_DATA))) {
        GtkWidget* label = gtk_label_new(s.c_str());
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        gtk_widget_show(label);
        gtk_list_box_insert(list, label, -1);
    }
}

void select_list_row(uint32_t index) {
    view* v = view_at(index);
    hush h;
    GtkListBox* list = GTK_LIST_BOX(v->widget);
    kiv_value* selected = face_facet(index, FACET_SELECTED);
    if (type_of(selected) != TYPE_INTEGER) {
        integer::make_at(selected, -1);
        gtk_list_box_unselect_all(list);
        return;
    }
    GtkListBoxRow* row = gtk_list_box_get_row_at_index(list, integer::get_value(selected) - 1);
    if (row) gtk_list_box_select_row(list, row);
    else gtk_list_box_unselect_all(list);
}

void fill_combo(uint32_t index) {
    view* v = view_at(index);
    hush h;
    GtkComboBoxText* combo = GTK_COMBO_BOX_TEXT(v->widget);
    kiv_value* data = face_facet(index, FACET_DATA);
    if (type_of(data) == TYPE_BLOCK || type_of(data) == TYPE_HASH) {
        gtk_combo_box_text_remove_all(combo);
        for (const std::string& s : items_of(data)) gtk_combo_box_text_append_text(combo, s.c_str());
    }
}

void select_combo_item(uint32_t index) {
    view* v = view_at(index);
    hush h;
    kiv_value* text = face_facet(index, FACET_TEXT);
    if (v->kind == K_DROP_DOWN && type_of(text) == TYPE_STRING) {
        std::string s = text_of(text);
        gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(v->widget))), s.c_str());
        return;
    }
    kiv_value* selected = face_facet(index, FACET_SELECTED);
    if (type_of(selected) == TYPE_INTEGER)
        gtk_combo_box_set_active(GTK_COMBO_BOX(v->widget), std::max(integer::get_value(selected) - 1, -1));
}

// A picked row: `select` may refuse it; otherwise `selected` follows and
// `change` is raised.
void picked_row(uint32_t index, int32_t row) {
    kiv_value* selected = face_facet(index, FACET_SELECTED);
    if (type_of(selected) == TYPE_INTEGER && integer::get_value(selected) == row + 1) return;
    bool stop = raise_with(index, ev::SELECT, row + 1, true);
    if (!view_at(index)) return;
    selected = face_facet(index, FACET_SELECTED);
    if (type_of(selected) == TYPE_INTEGER && integer::get_value(selected) == row + 1) return;
    if (stop) {
        // Refused: the widget shows the old selection again.
        view* v = view_at(index);
        if (v->kind == K_TEXT_LIST) select_list_row(index);
        else select_combo_item(index);
        return;
    }
    integer::make_at(selected, row + 1);
    raise_with(index, ev::CHANGE, row + 1, true);
}

void on_row_selected(GtkListBox* list, GtkListBoxRow* row, gpointer) {
    uint32_t index = view_of_widget(GTK_WIDGET(list));
    if (quiet || !index || !row) return;
    picked_row(index, gtk_list_box_row_get_index(row));
}

void on_combo_changed(GtkComboBox* combo, gpointer) {
    uint32_t index = view_of_widget(GTK_WIDGET(combo));
    if (quiet || !index) return;
    int active = gtk_combo_box_get_active(combo);
    if (active < 0) {
        // Text typed into a drop-down's entry.
        read_back_text(face_of(index));
        raise(index, event_args{ev::CHANGE});
        return;
    }
    if (view_at(index)->kind == K_DROP_DOWN) read_back_text(face_of(index));
    else {
        gchar* s = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo));
        string::load_at(reinterpret_cast<const uint8_t*>(s), uint32_t(strlen(s)), face_facet(index, FACET_TEXT),
                        string::UTF8);
        g_free(s);
    }
    picked_row(index, active);
}

// Text controls --------------------------------------------------------------

void text_changed(uint32_t index) {
    if (quiet || !index) return;
    read_back_text(face_of(index));
    raise(index, event_args{ev::CHANGE});
}

void on_entry_changed(GtkEditable* e, gpointer) { text_changed(view_of_widget(GTK_WIDGET(e))); }
void on_buffer_changed(GtkTextBuffer*, gpointer view_widget) {
    text_changed(view_of_widget(GTK_WIDGET(view_widget)));
}

// Ranges ---------------------------------------------------------------------

void on_value_changed(GtkRange* r, gpointer) {
    uint32_t index = view_of_widget(GTK_WIDGET(r));
    if (quiet || !index) return;
    view* v = view_at(index);
    GtkAdjustment* a = gtk_range_get_adjustment(r);
    double span = gtk_adjustment_get_upper(a) - gtk_adjustment_get_lower(a);
    double position = span > 0 ? (gtk_adjustment_get_value(a) - gtk_adjustment_get_lower(a)) / span : 0;
    float_::make_at(face_facet(index, FACET_DATA), position);
    if (v->kind == K_SCROLLER)
        percent::make_at(face_facet(index, FACET_SELECTED), span > 0 ? gtk_adjustment_get_page_size(a) / span : 0);
    raise(index, event_args{ev::CHANGE});
}

double fraction_of(const kiv_value* v) {
    if (type_of(v) == TYPE_FLOAT) return float_::get(v);
    if (type_of(v) == TYPE_PERCENT) return cell::get_float(v);
    return -1;
}

// A scroller's track runs over 0 .. 1 with its page inside it.
void set_scroller(uint32_t index) {
    view* v = view_at(index);
    hush h;
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(v->widget));
    double page = fraction_of(face_facet(index, FACET_SELECTED));
    double position = fraction_of(face_facet(index, FACET_DATA));
    if (page < 0) page = gtk_adjustment_get_page_size(a);
    page = std::clamp(page, 0.0, 1.0);
    if (position < 0) position = gtk_adjustment_get_value(a);
    gtk_adjustment_configure(a, std::clamp(position, 0.0, 1.0), 0, 1 + page, 0.1, page, page);
}

// Calendar -------------------------------------------------------------------

void on_day_selected(GtkCalendar* c, gpointer) {
    uint32_t index = view_of_widget(GTK_WIDGET(c));
    if (quiet || !index) return;
    guint y, m, d;
    gtk_calendar_get_date(c, &y, &m, &d);
    date::make_at(face_facet(index, FACET_DATA), calendar_packed(int32_t(y), int32_t(m) + 1, int32_t(d)), 0);
    raise(index, event_args{ev::CHANGE});
}

void set_calendar(uint32_t index) {
    view* v = view_at(index);
    kiv_value* data = face_facet(index, FACET_DATA);
    GtkCalendar* c = GTK_CALENDAR(v->widget);
    if (type_of(data) != TYPE_DATE) {
        guint y, m, d;
        gtk_calendar_get_date(c, &y, &m, &d);
        date::make_at(data, calendar_packed(int32_t(y), int32_t(m) + 1, int32_t(d)), 0);
        return;
    }
    hush h;
    uint32_t packed = date::packed_of(data);
    int32_t year = calendar_year(date::year_of(packed));
    gtk_calendar_select_month(c, guint(date::month_of(packed) - 1), guint(year));
    gtk_calendar_select_day(c, guint(date::day_of(packed)));
}

// Sizing ---------------------------------------------------------------------

// Widgets take exactly their face's size: the theme's minimum sizes go.
void install_css() {
    static bool done = false;
    if (done) return;
    done = true;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    ".kiv-face { min-width: 0; min-height: 0; }\n"
                                    "entry.kiv-face, button.kiv-face { padding-top: 0; padding-bottom: 0; }\n"
                                    "scale.kiv-face { padding: 0; margin: 0; }\n",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

}  // namespace

int32_t calendar_year(int32_t year) { return std::clamp(year, 1601, 9999); }

uint32_t calendar_packed(int32_t year, int32_t month, int32_t day) {
    return uint32_t(year) << 17 | uint32_t(month) << 12 | uint32_t(day) << 7;
}

void setup_widget(uint32_t index) {
    install_css();
    view* v = view_at(index);
    GtkWidget* w = v->widget;
    switch (v->kind) {
        case K_BUTTON: g_signal_connect(w, "clicked", G_CALLBACK(on_clicked), nullptr); break;
        case K_RADIO: {
            // No auto-check: each radio is alone in its group but for a
            // hidden one that holds the unchecked state.
            GtkWidget* other = gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(w));
            g_object_ref_sink(other);
            g_object_set_data_full(G_OBJECT(w), "kiv-other-radio", other, g_object_unref);
            g_signal_connect(w, "toggled", G_CALLBACK(on_toggled), nullptr);
            break;
        }
        case K_TOGGLE: case K_CHECK:
            g_signal_connect(w, "toggled", G_CALLBACK(on_toggled), nullptr);
            break;
        case K_FIELD: {
            gtk_entry_set_width_chars(GTK_ENTRY(w), 1);
            if (kiv_value* hint = option(index, "hint"); hint && type_of(hint) == TYPE_STRING) {
                std::string s = text_of(hint);
                gtk_entry_set_placeholder_text(GTK_ENTRY(w), s.c_str());
            }
            g_signal_connect(w, "changed", G_CALLBACK(on_entry_changed), nullptr);
            break;
        }
        case K_AREA: {
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(w));
            g_signal_connect_object(buffer, "changed", G_CALLBACK(on_buffer_changed), w, GConnectFlags(0));
            break;
        }
        case K_TEXT_LIST:
            gtk_list_box_set_selection_mode(GTK_LIST_BOX(w), GTK_SELECTION_SINGLE);
            g_signal_connect(w, "row-selected", G_CALLBACK(on_row_selected), nullptr);
            break;
        case K_DROP_DOWN: case K_DROP_LIST:
            if (v->kind == K_DROP_DOWN) gtk_entry_set_width_chars(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(w))), 1);
            g_signal_connect(w, "changed", G_CALLBACK(on_combo_changed), nullptr);
            break;
        case K_SLIDER:
            gtk_scale_set_draw_value(GTK_SCALE(w), FALSE);
            g_signal_connect(w, "value-changed", G_CALLBACK(on_value_changed), nullptr);
            break;
        case K_SCROLLER:
            g_signal_connect(w, "value-changed", G_CALLBACK(on_value_changed), nullptr);
            break;
        case K_CALENDAR: g_signal_connect(w, "day-selected", G_CALLBACK(on_day_selected), nullptr); break;
        default: break;
    }
    apply_widget(index, 1u << FACET_DATA | 1u << FACET_SELECTED);
}

void apply_widget(uint32_t index, uint32_t bits) {
    view* v = view_at(index);
    bool data = bits & (1u << FACET_DATA), selected = bits & (1u << FACET_SELECTED);
    bool text = bits & (1u << FACET_TEXT);
    switch (v->kind) {
        case K_CHECK: case K_TOGGLE: case K_RADIO:
            if (data) {
                kiv_value* d = face_facet(index, FACET_DATA);
                bool tri = v->kind == K_CHECK && (v->flags & FACET_TRI_STATE);
                int state = type_of(d) == TYPE_NONE ? (tri ? 2 : 0) : logic::truthy(d) ? 1 : 0;
                show_check_state(GTK_TOGGLE_BUTTON(v->widget), state);
            }
            break;
        case K_PROGRESS:
            if (data && fraction_of(face_facet(index, FACET_DATA)) >= 0)
                gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(v->widget),
                                              std::min(fraction_of(face_facet(index, FACET_DATA)), 1.0));
            break;
        case K_SLIDER:
            if (data && fraction_of(face_facet(index, FACET_DATA)) >= 0) {
                hush h;
                gtk_range_set_value(GTK_RANGE(v->widget), fraction_of(face_facet(index, FACET_DATA)));
            }
            break;
        case K_SCROLLER:
            if (data || selected) set_scroller(index);
            break;
        case K_TEXT_LIST:
            if (data) fill_list(index);
            if (data || selected) select_list_row(index);
            break;
        case K_DROP_DOWN: case K_DROP_LIST:
            if (data) fill_combo(index);
            if (data || selected || text) select_combo_item(index);
            break;
        case K_CALENDAR:
            if (data) set_calendar(index);
            break;
        default: break;
    }
}

bool widget_quiet() { return quiet > 0; }
quiet_scope::quiet_scope() { quiet++; }
quiet_scope::~quiet_scope() { quiet--; }

}  // namespace kiv::gui
