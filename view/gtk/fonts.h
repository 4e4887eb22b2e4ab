#pragma once
// Fonts and paragraphs: font! objects as pango font descriptions (family,
// absolute size, weight, slant) with their decorations, and para! objects
// as alignment and wrapping of a layout inside a box.
#include <pango/pango.h>

#include <cstdint>
#include <string>

#include "runtime/value.h"

namespace kiv::fonts {

// What a font object asks for, read once so that no value cell is held.
struct look {
    std::string family;
    double size = 0;  // points
    bool bold = false, italic = false, underline = false, strike = false;
    double angle = 0;  // degrees, counter-clockwise on screen
    bool has_colour = false;
    uint8_t rgba[4] = {0, 0, 0, 255};  // alpha 255 is opaque
};

// A font! object; anything else gives the default font. A size that is not
// an integer above 0 is the default size.
look read(const kiv_value* font);
look default_look();
// Marks a font! object as made for a face: its `state` becomes a block
// [handle none none], so that its later changes reach the faces using it.
void note_made(const kiv_value* font);
// Points to pixels at 96 per inch: the drawing's transform does the rest.
inline double pixels(double points) { return points * 96.0 / 72.0; }
// A new description (the caller frees it) at the look's absolute size.
PangoFontDescription* describe(const look& l);
// Underline and strike-through over the whole text, added to the list.
void decorate(const look& l, PangoAttrList* attrs);

enum h_align : int { ALIGN_LEFT, ALIGN_CENTER, ALIGN_RIGHT };
enum v_align : int { ALIGN_TOP, ALIGN_MIDDLE, ALIGN_BOTTOM };
struct para_look {
    h_align h = ALIGN_LEFT;
    v_align v = ALIGN_TOP;
    bool wrap = false;
};
// A para! object for a face of the given kind: words other than the
// alignment ones keep the kind's default (left and top for rich text,
// centred for a base face); wrap? none or true wraps. A value that is not
// an object is left, top and no wrapping.
para_look read_para(const kiv_value* para, bool rich_text);
// The same as the style bits a base or rich-text face carries: 1 centre,
// 2 right, 4 middle, 8 bottom, 0x10 wrap.
uint32_t para_bits(const para_look& p);

// The shared pango context every layout is made in: 96 per inch, metrics
// unhinted, so that a text measures alike on screen and in an image.
PangoContext* shared_context();

}  // namespace kiv::fonts
