// The clipboard through GTK: text, lists of files (text/uri-list, with the
// paths as plain text beside) and images (image/png).
//
// Text is stored with LF line ends, as other programs here expect; reading
// drops every CR, so text from programs that write CR LF reads the same.
// Reading while this process owns the clipboard works: the toolkit serves
// its own data. Other programs get data only while an event loop runs.
#include "view/gtk/clipboard.h"

#include <gtk/gtk.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "view/backend.h"
#include "view/gtk/clipboard_core.h"
#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

constexpr const char* URI_LIST = "text/uri-list";
constexpr const char* PNG = "image/png";
// What file managers here paste files from.
constexpr const char* COPIED_FILES = "x-special/gnome-copied-files";

GtkClipboard* the_clipboard() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

bool has_target(GdkAtom* targets, int n, const char* name) {
    GdkAtom wanted = gdk_atom_intern_static_string(name);
    for (int i = 0; i < n; i++)
        if (targets[i] == wanted) return true;
    return false;
}

// The bytes of one target, empty when the owner gives none.
std::string contents_of(GtkClipboard* cb, const char* target) {
    std::string out;
    GtkSelectionData* sel = gtk_clipboard_wait_for_contents(cb, gdk_atom_intern_static_string(target));
    if (!sel) return out;
    int length = gtk_selection_data_get_length(sel);
    const guchar* data = gtk_selection_data_get_data(sel);
    if (data && length > 0) out.assign(reinterpret_cast<const char*>(data), size_t(length));
    gtk_selection_data_free(sel);
    return out;
}

// A new string! on the stack from UTF-8 text; invalid sequences become
// replacement characters.
kiv_value* push_text(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    kiv_value* s = string::load(reinterpret_cast<const uint8_t*>(valid), uint32_t(strlen(valid)), string::UTF8);
    g_free(valid);
    return s;
}

bool read_files(GtkClipboard* cb) {
    std::string list = contents_of(cb, URI_LIST);
    std::vector<std::string> paths = clipboard::paths_of_uri_list(list.data(), list.size());
    if (paths.empty()) return false;
    kiv_value* result = block::make_at(stack::push(), int32_t(paths.size()));
    for (const std::string& p : paths) {
        gchar* valid = g_utf8_make_valid(p.data(), gssize(p.size()));
        kiv_value* f = string::load_in(reinterpret_cast<const uint8_t*>(valid), uint32_t(strlen(valid)), result,
                                       string::UTF8);
        g_free(valid);
        cell::set_type(f, TYPE_FILE);
    }
    stack::set_last(result);
    return true;
}

// UTF-8 text is taken as it is, so that only CR goes; other text targets
// through the toolkit's conversion.
bool read_text(GtkClipboard* cb, GdkAtom* targets, int n) {
    std::string text;
    if (has_target(targets, n, "UTF8_STRING")) {
        text = contents_of(cb, "UTF8_STRING");
    } else if (has_target(targets, n, "text/plain;charset=utf-8")) {
        text = contents_of(cb, "text/plain;charset=utf-8");
    } else if (gchar* converted = gtk_clipboard_wait_for_text(cb)) {
        text = converted;
        g_free(converted);
    } else {
        return false;
    }
    stack::set_last(push_text(clipboard::without_cr(text.data(), text.size())));
    return true;
}

bool read_png(GtkClipboard* cb) {
    std::string bytes = contents_of(cb, PNG);
    if (bytes.empty()) return false;
    kiv_value* bin = binary::load(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
    kiv_value* img = image::load_binary(bin);
    if (type_of(img) != TYPE_IMAGE) return false;
    stack::set_last(img);
    return true;
}

// Any other image format the toolkit can decode.
bool read_pixbuf(GtkClipboard* cb) {
    GdkPixbuf* pb = gtk_clipboard_wait_for_image(cb);
    if (!pb) return false;
    GdkPixbuf* rgba = gdk_pixbuf_get_has_alpha(pb) ? g_object_ref(pb) : gdk_pixbuf_add_alpha(pb, FALSE, 0, 0, 0);
    g_object_unref(pb);
    uint32_t w = uint32_t(gdk_pixbuf_get_width(rgba)), h = uint32_t(gdk_pixbuf_get_height(rgba));
    int stride = gdk_pixbuf_get_rowstride(rgba);
    const guchar* src = gdk_pixbuf_read_pixels(rgba);
    std::vector<uint32_t> argb(size_t(w) * h);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            const guchar* p = src + size_t(y) * size_t(stride) + x * 4;
            argb[size_t(y) * w + x] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
    g_object_unref(rgba);
    if (w > image::MAX_SIDE || h > image::MAX_SIDE) return false;
    stack::set_last(image::push_from_pixels(w, h, argb.data(), 0));
    return true;
}

void read_clipboard() {
    if (!init()) {
        *stack::arguments = false_value;
        return;
    }
    GtkClipboard* cb = the_clipboard();
    GdkAtom* targets = nullptr;
    int n = 0;
    *stack::arguments = none_value;
    if (!gtk_clipboard_wait_for_targets(cb, &targets, &n)) return;
    // Files before text: file lists come with their paths as text too.
    bool done = (has_target(targets, n, URI_LIST) && read_files(cb)) ||
                (gtk_targets_include_text(targets, n) && read_text(cb, targets, n)) ||
                (has_target(targets, n, PNG) && read_png(cb)) ||
                (gtk_targets_include_image(targets, n, FALSE) && read_pixbuf(cb));
    (void)done;
    g_free(targets);
}

// Data offered for a file list or an image, by target info.
enum offer : guint { OFFER_URIS, OFFER_COPIED, OFFER_TEXT, OFFER_PNG };

struct offered {
    std::string uris, copied, text, png;
};

void serve(GtkClipboard*, GtkSelectionData* sel, guint info, gpointer data) {
    const offered* o = static_cast<const offered*>(data);
    const std::string* bytes = nullptr;
    switch (info) {
        case OFFER_URIS: bytes = &o->uris; break;
        case OFFER_COPIED: bytes = &o->copied; break;
        case OFFER_PNG: bytes = &o->png; break;
        case OFFER_TEXT: gtk_selection_data_set_text(sel, o->text.data(), gint(o->text.size())); return;
        default: return;
    }
    gtk_selection_data_set(sel, gtk_selection_data_get_target(sel), 8,
                           reinterpret_cast<const guchar*>(bytes->data()), gint(bytes->size()));
}

void release(GtkClipboard*, gpointer data) { delete static_cast<offered*>(data); }

// The clipboard takes the data: `release` frees them.
bool offer_files(GtkClipboard* cb, std::unique_ptr<offered> o) {
    GtkTargetList* list = gtk_target_list_new(nullptr, 0);
    gtk_target_list_add(list, gdk_atom_intern_static_string(URI_LIST), 0, OFFER_URIS);
    gtk_target_list_add(list, gdk_atom_intern_static_string(COPIED_FILES), 0, OFFER_COPIED);
    gtk_target_list_add_text_targets(list, OFFER_TEXT);
    int n = 0;
    GtkTargetEntry* entries = gtk_target_table_new_from_list(list, &n);
    gtk_target_list_unref(list);
    bool ok = gtk_clipboard_set_with_data(cb, entries, guint(n), serve, release, o.get());
    gtk_target_table_free(entries, n);
    if (ok) o.release();
    return ok;
}

bool offer_png(GtkClipboard* cb, std::unique_ptr<offered> o) {
    GtkTargetEntry entry{const_cast<gchar*>(PNG), 0, OFFER_PNG};
    bool ok = gtk_clipboard_set_with_data(cb, &entry, 1, serve, release, o.get());
    if (ok) o.release();
    return ok;
}

// Nothing on the clipboard: this process gives it up, and owns it first
// so that another owner's data go too.
void empty(GtkClipboard* cb) {
    gtk_clipboard_set_text(cb, "", 0);
    gtk_clipboard_clear(cb);
}

// The absolute local paths of a block of files (strings count as paths).
std::vector<std::string> paths_of_block(kiv_value* blk) {
    std::vector<std::string> out;
    int32_t n = block::ks_length_q(blk);
    for (int32_t i = 0; i < n; i++) {
        kiv_value v = block::ks_head(blk)[i];
        uint32_t t = type_of(&v);
        if (t != TYPE_FILE && t != TYPE_STRING) fire(err::SCRIPT, err::script::invalid_arg, &v);
        if (string::ks_find_char(&v, 0) >= 0) fire(err::SCRIPT, err::script::invalid_arg, &v);
        kiv_value* local = string::make_at(stack::push(), string::ks_length_q(&v) + 64);
        file::convert_to_local(&v, local, true);
        int32_t count = -1;
        out.emplace_back(unicode::to_utf8(local, &count));
        stack::pop(1);
    }
    return out;
}

void write_clipboard() {
    kiv_value data = *stack::arguments;
    uint32_t t = type_of(&data);
    if (t != TYPE_STRING && t != TYPE_BLOCK && t != TYPE_IMAGE && t != TYPE_NONE)
        fire(err::SCRIPT, err::script::invalid_arg, &data);
    // Everything is prepared before the clipboard is touched.
    std::string text;
    auto o = std::make_unique<offered>();
    if (t == TYPE_STRING) {
        int32_t count = -1;
        text = unicode::to_utf8(&data, &count);
    } else if (t == TYPE_BLOCK) {
        for (const std::string& p : paths_of_block(&data)) {
            std::string uri = clipboard::uri_of_path(p);
            o->uris += uri + "\r\n";
            o->copied += "\n" + uri;
            if (!o->text.empty()) o->text += "\n";
            o->text += p;
        }
        o->copied = "copy" + o->copied;
    } else if (t == TYPE_IMAGE && image::pixel_count(&data) > 0) {
        kiv_value* png = image::encode(&data, nullptr, 1);
        o->png.assign(reinterpret_cast<const char*>(binary::ks_head(png)), binary::ks_length_q(png));
    }
    if (!init()) {
        *stack::arguments = false_value;
        return;
    }
    GtkClipboard* cb = the_clipboard();
    bool ok = true;
    if (t == TYPE_STRING) {
        gtk_clipboard_set_text(cb, text.data(), gint(text.size()));
    } else if (!o->uris.empty()) {
        ok = offer_files(cb, std::move(o));
    } else if (!o->png.empty()) {
        ok = offer_png(cb, std::move(o));
    } else {  // none, no files or no pixels
        empty(cb);
    }
    gdk_display_flush(gdk_display_get_default());
    *stack::arguments = ok ? true_value : false_value;
}

constexpr backend::routine_def CLIPBOARD_ROUTINES[] = {
    {"read-clipboard",
     "\"Return the contents of the system clipboard\" return: [any-type!] \"false on failure, none if empty, "
     "otherwise: string!, block! of files!, or an image!\"",
     read_clipboard},
    {"write-clipboard",
     "\"Write content to the system clipboard\" data [any-type!] \"string!, block! of files!, an image! or "
     "none!\" return: [logic!] \"indicates success\"",
     write_clipboard},
};

}  // namespace

void install_clipboard() { backend::provide(CLIPBOARD_ROUTINES, std::size(CLIPBOARD_ROUTINES), true); }

}  // namespace kiv::gui
