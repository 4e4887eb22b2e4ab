#pragma once
// KivBox: the container of a face's pane. It has a window of its own, so
// its children are clipped to it, and it places every child at the offset
// and size it was given (GtkFixed does neither exactly). It paints the
// face's background colour and, for faces that draw their own text, the
// text, before its children.
#include <string>

#include <gtk/gtk.h>

#include "view/gtk/fonts.h"

namespace kiv::gui {

GtkWidget* kivbox_new();
// Places (or moves) a child at x, y with size w x h, in device pixels. A
// new child goes on top of its siblings.
void kivbox_put(GtkWidget* box, GtkWidget* child, int x, int y, int w, int h);
void kivbox_remove(GtkWidget* box, GtkWidget* child);
// Re-stacks the children in the given order, the last one on top.
void kivbox_restack(GtkWidget* box, GtkWidget* const* children, int count);
// Background colour (rgba 0..1; alpha 0 draws nothing) and own text.
void kivbox_set_color(GtkWidget* box, double r, double g, double b, double a);
// How many times any box was painted: benchmarks wait on it for a frame.
unsigned long kivbox_paints();
// The text a box draws itself: its font (a pango description), colour,
// alignment, wrapping and decoration.
struct box_text {
    std::string text, font;
    double rgb[3] = {0, 0, 0};
    fonts::para_look para;
    bool underline = false, strike = false;
};
void kivbox_set_text(GtkWidget* box, const box_text& t);
// A group box's frame, its caption (the own text) set into its top edge.
void kivbox_set_frame(GtkWidget* box, bool on);

// An image painted over the whole box (the box takes the reference; null
// for none).
void kivbox_set_image(GtkWidget* box, cairo_surface_t* image);

}  // namespace kiv::gui
