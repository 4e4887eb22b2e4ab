// The file and folder requesters on GTK's file chooser and the font
// requester on its font chooser, modal to the active window. Files answer
// file! values, fonts the font! object filled in; cancel answers none.
#include "view/gtk/dialogs.h"

#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "view/gtk/fonts.h"
#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

kiv_value* arg(int n) { return stack::arguments + n; }

// The folder chosen last with `keep`.
std::string kept_folder;

GtkWindow* active_window() {
    GList* all = gtk_window_list_toplevels();
    GtkWindow* found = nullptr;
    for (GList* w = all; w; w = w->next)
        if (gtk_window_is_active(GTK_WINDOW(w->data))) found = GTK_WINDOW(w->data);
    g_list_free(all);
    return found;
}

void add_filters(GtkFileChooser* chooser, const std::vector<std::string>& filter) {
    for (size_t i = 0; i + 1 < filter.size(); i += 2) {
        GtkFileFilter* f = gtk_file_filter_new();
        gtk_file_filter_set_name(f, filter[i].c_str());
        const std::string& patterns = filter[i + 1];
        size_t start = 0;
        while (start <= patterns.size()) {
            size_t end = patterns.find(';', start);
            if (end == std::string::npos) end = patterns.size();
            std::string p = patterns.substr(start, end - start);
            if (!p.empty()) gtk_file_filter_add_pattern(f, p == "*.*" ? "*" : p.c_str());
            start = end + 1;
        }
        gtk_file_chooser_add_filter(chooser, f);
    }
}

std::string title_of(kiv_value* title, const char* fallback) {
    return type_of(title) == TYPE_STRING ? text_of(title) : fallback;
}

std::string path_of(kiv_value* v) {
    kiv_value s = *v;
    cell::set_type(&s, TYPE_STRING);
    return text_of(&s);
}

// Runs the dialog; the chosen paths, none on cancel.
std::vector<std::string> run(GtkWidget* dialog) {
    std::vector<std::string> chosen;
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    if (gint answer = gtk_dialog_run(GTK_DIALOG(dialog)); answer == GTK_RESPONSE_ACCEPT) {
        GSList* names = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog));
        for (GSList* n = names; n; n = n->next) {
            chosen.emplace_back(static_cast<char*>(n->data));
            g_free(n->data);
        }
        g_slist_free(names);
    }
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return chosen;
}

void answer_files(const std::vector<std::string>& chosen, bool multi) {
    if (chosen.empty()) {
        *stack::arguments = none_value;
        return;
    }
    if (!multi) {
        kiv_file_at(stack::arguments, chosen[0]);
        return;
    }
    kiv_value* result = block::make_at(stack::push(), int32_t(chosen.size()));
    for (const std::string& path : chosen) {
        kiv_value* file = stack::push();
        kiv_file_at(file, path);
        block::append_copy(result, file);
        stack::pop(1);
    }
    stack::set_last(result);
}

}  // namespace

std::vector<std::string> make_filter(kiv_value* filter) {
    std::vector<std::string> out;
    if (type_of(filter) != TYPE_BLOCK) return out;
    kiv_value blk = *filter;
    for (int32_t i = 0; i < block::ks_length_q(&blk); i++) {
        kiv_value* v = block::ks_head(&blk) + i;
        if (type_of(v) != TYPE_STRING && type_of(v) != TYPE_FILE) fire(err::SCRIPT, err::script::invalid_arg, v);
        out.push_back(path_of(v));
    }
    return out;
}

std::string kiv_path(const std::string& local, bool folder) {
    std::string out;
    for (size_t i = 0; i < local.size(); i++)
        if (!(local[i] == '/' && i > 0 && local[i - 1] == '/')) out += local[i];
    if (folder && (out.empty() || out.back() != '/')) out += '/';
    return out;
}

void kiv_file_at(kiv_value* slot, const std::string& path) {
    string::load_at(reinterpret_cast<const uint8_t*>(path.data()), uint32_t(path.size()), slot, string::UTF8);
    cell::set_type(slot, TYPE_FILE);
}

void request_file() {
    std::vector<std::string> filter = make_filter(arg(2));
    if (filter.empty()) filter = {"All files", "*.*", "Kiv scripts", "*.kiv;*.kivs", "HALVO scripts", "*.hv",
                                  "Text files", "*.txt"};
    bool save = logic::truthy(arg(3)), multi = logic::truthy(arg(4));
    std::string title = title_of(arg(0), save ? "Save" : "Open");
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        title.c_str(), active_window(), save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
        "_Cancel", GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_select_multiple(chooser, multi && !save);
    add_filters(chooser, filter);
    kiv_value* name = arg(1);
    if (type_of(name) == TYPE_FILE || type_of(name) == TYPE_STRING) {
        // The name's folder opens, with its file name filled in.
        std::string path = path_of(name);
        size_t slash = path.rfind('/');
        std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
        if (!folder.empty()) gtk_file_chooser_set_current_folder(chooser, folder.c_str());
        if (save) gtk_file_chooser_set_current_name(chooser, file.c_str());
        else if (!file.empty()) gtk_file_chooser_set_filename(chooser, path.c_str());
    }
    std::vector<std::string> chosen = run(dialog);
    for (std::string& c : chosen) c = kiv_path(c, false);
    answer_files(chosen, multi);
}

void request_dir() {
    bool keep = logic::truthy(arg(3));
    std::string title = title_of(arg(0), "Select Folder");
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title.c_str(), active_window(),
                                                    GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                                    GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    kiv_value* dir = arg(1);
    std::string start = keep && !kept_folder.empty() ? kept_folder
                        : type_of(dir) == TYPE_FILE || type_of(dir) == TYPE_STRING ? path_of(dir)
                                                                                   : "";
    if (!start.empty()) gtk_file_chooser_set_current_folder(chooser, start.c_str());
    std::vector<std::string> chosen = run(dialog);
    if (chosen.empty()) {
        *stack::arguments = none_value;
        return;
    }
    if (keep) kept_folder = chosen[0];
    kiv_file_at(stack::arguments, kiv_path(chosen[0], true));
}

namespace {

gboolean monospaced_only(const PangoFontFamily* family, const PangoFontFace*, gpointer) {
    return pango_font_family_is_monospace(const_cast<PangoFontFamily*>(family));
}

// Sets a field through its change handler, as a set-path would.
void set_field(kiv_value* obj, const char* name, kiv_value* value) {
    kiv_value word = *word::load(name);
    object::path_field(obj, &word, value);
}

}  // namespace

void request_font() {
    bool mono = logic::truthy(arg(2));
    // The font shown first: the one given, else Courier New at 11 points.
    fonts::look shown = type_of(arg(1)) == TYPE_OBJECT ? fonts::read(arg(1)) : fonts::look{};
    if (type_of(arg(1)) != TYPE_OBJECT) {
        shown.family = "Courier New";
        shown.size = 11;
    }
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, shown.family.c_str());
    pango_font_description_set_size(desc, int(shown.size * PANGO_SCALE));
    pango_font_description_set_weight(desc, shown.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(desc, shown.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    // The dialog's builder finds these types by name, which it cannot look
    // up in a module loaded on its own: they are registered first.
    g_type_ensure(PANGO_TYPE_FONT_FAMILY);
    g_type_ensure(PANGO_TYPE_FONT_FACE);
    GtkWidget* dialog = gtk_font_chooser_dialog_new("Font", active_window());
    GtkFontChooser* chooser = GTK_FONT_CHOOSER(dialog);
    gtk_font_chooser_set_font_desc(chooser, desc);
    pango_font_description_free(desc);
    if (mono) gtk_font_chooser_set_filter_func(chooser, monospaced_only, nullptr, nullptr);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    PangoFontDescription* chosen = nullptr;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) chosen = gtk_font_chooser_get_font_desc(chooser);
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    if (!chosen) {
        *stack::arguments = none_value;
        return;
    }
    std::string family = pango_font_description_get_family(chosen) ? pango_font_description_get_family(chosen) : "";
    double size = double(pango_font_description_get_size(chosen)) / PANGO_SCALE;
    if (pango_font_description_get_size_is_absolute(chosen)) size = size * 72.0 / 96.0;
    bool bold = pango_font_description_get_weight(chosen) == PANGO_WEIGHT_BOLD;
    bool italic = pango_font_description_get_style(chosen) != PANGO_STYLE_NORMAL;
    pango_font_description_free(chosen);
    // The answer is the font given to fill: name, size in whole points and
    // the style words; a plain font leaves the style as it was.
    kiv_value* font = arg(0);
    kiv_value* v = stack::push();
    kiv_file_at(v, family);
    cell::set_type(v, TYPE_STRING);
    set_field(font, "name", v);
    integer::make_at(v, int32_t(size + 0.5));
    set_field(font, "size", v);
    if (bold && italic) {
        block::make_at(v, 2);
        block::append_copy(v, word::load("bold"));
        block::append_copy(v, word::load("italic"));
        set_field(font, "style", v);
    } else if (bold || italic) {
        *v = *word::load(bold ? "bold" : "italic");
        set_field(font, "style", v);
    }
    stack::pop(1);
}

}  // namespace kiv::gui
