#pragma once
// Faces that paint themselves: the image and the draw block of a face with
// a box, painted in the box's draw signal through the same draw context as
// images, the `drawing` event for an actor that draws, and the capture of a
// face into an image.
#include <gtk/gtk.h>

#include "runtime/value.h"

namespace kiv::gui {

// Whether the box's face draws (a draw block, an image, or a face type
// that raises `drawing`).
bool face_paints_itself(GtkWidget* box);

// Called by the box while it paints, over its background colour: first
// (after_text false) the face's `image` stretched to its size, then, over
// its text, its `draw` block, or, without one, the `drawing` event.
void paint_face(GtkWidget* box, cairo_t* cr, bool after_text);

// `draw-face`: the commands drawn on the face while it paints (from its
// `drawing` actor); outside a paint nothing is drawn.
void draw_face(const kiv_value* face, const kiv_value* commands);

// The face's pixels in a new image, pushed: none for a face without a view.
// Null when the value is no face.
kiv_value* capture_face(const kiv_value* value);

}  // namespace kiv::gui
