// Backend start-up: the display, the DPI factor, screens and fonts.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gdk/gdkx.h>

#include "view/gtk/dpi.h"
#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

bool started = false;
bool active = false;
std::string system_font = "DejaVu Sans";
int system_size = 10;

// What the X resources say of the DPI, 0 when nothing.
int xft_dpi(GdkDisplay* display) {
    if (!GDK_IS_X11_DISPLAY(display)) return 0;
    const char* resources = XResourceManagerString(gdk_x11_display_get_xdisplay(display));
    return resources ? parse_xft_dpi(resources) : 0;
}

// Faces are given exact sizes: the theme's minimum sizes, paddings and
// margins must not grow them.
const char* FACE_CSS =
    ".kiv-face { min-width: 0; min-height: 0; margin: 0; }"
    "button.kiv-face, entry.kiv-face { padding: 0 2px; }";

}  // namespace

bool init() {
    if (started) return active;
    started = true;
    if (!gtk_init_check(nullptr, nullptr)) return false;
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return false;
    active = true;
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    int gdk_scale = monitor ? gdk_monitor_get_scale_factor(monitor) : 1;
    set_dpi(int32_t(std::lround(96.0 * dpi_factor_of(xft_dpi(display), gdk_scale))));

    gchar* font_name = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &font_name, nullptr);
    if (font_name) {
        PangoFontDescription* desc = pango_font_description_from_string(font_name);
        if (pango_font_description_get_family(desc)) system_font = pango_font_description_get_family(desc);
        int size = pango_font_description_get_size(desc) / PANGO_SCALE;
        if (size > 0) system_size = size;
        pango_font_description_free(desc);
        g_free(font_name);
    }

    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, FACE_CSS, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    return true;
}

bool active_q() { return active; }
double dpi_factor() { return dpi.factor; }
int scale(double logical) { return dpi_scale(logical); }
double unscale(double device) { return dpi_unscale(device); }
const char* default_font_name() { return system_font.c_str(); }
int default_font_size() { return system_size; }
const char* fixed_font_name() { return "Monospace"; }

std::vector<screen_info> fetch_all_screens() {
    std::vector<screen_info> out;
    if (!active) return out;
    GdkDisplay* display = gdk_display_get_default();
    int n = gdk_display_get_n_monitors(display);
    for (int i = 0; i < n; i++) {
        GdkRectangle g;
        gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &g);
        out.push_back({g.x, g.y, g.width, g.height, dpi_factor(), uint32_t(i + 1)});
    }
    return out;
}

uint32_t current_screen() {
    if (!active) return 1;
    GdkDisplay* display = gdk_display_get_default();
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
    int x = 0, y = 0;
    if (pointer) gdk_device_get_position(pointer, nullptr, &x, &y);
    GdkMonitor* at = gdk_display_get_monitor_at_point(display, x, y);
    int n = gdk_display_get_n_monitors(display);
    for (int i = 0; i < n; i++)
        if (gdk_display_get_monitor(display, i) == at) return uint32_t(i + 1);
    return 1;
}

screen_info screen_size(uint32_t id) {
    std::vector<screen_info> all = fetch_all_screens();
    if (id >= 1 && id <= all.size()) return all[id - 1];
    return all.empty() ? screen_info{0, 0, 0, 0, dpi_factor(), 0} : all[0];
}

void show_error_box(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    if (!active) return;
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), caption);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

}  // namespace kiv::gui
