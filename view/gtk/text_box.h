#pragma once
// Text boxes: a text laid out by pango in a box with a font, a para and,
// for rich-text faces, style ranges; the caret, offset, line and size
// metrics; painting. Positions are characters (0-based here, 1-based in
// Kiv), converted to pango's byte indexes in one place, so characters
// above U+FFFF count as one like any other.
#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/value.h"
#include "view/gtk/fonts.h"

namespace kiv::text_box {

struct rgba { uint8_t r, g, b, a; };  // a 255 is opaque

class box {
  public:
    box(const char* utf8, size_t bytes, const fonts::look& font, const fonts::para_look& para, double width,
        double height);
    ~box();
    box(const box&) = delete;
    box& operator=(const box&) = delete;

    int32_t length() const { return int32_t(byte_of.size()) - 1; }

    // Style ranges: start and length in characters, clamped to the text.
    void colour(int32_t start, int32_t length, rgba c);
    void backdrop(int32_t start, int32_t length, rgba c);
    void bold(int32_t start, int32_t length);
    void italic(int32_t start, int32_t length);
    void underline(int32_t start, int32_t length, const rgba* c);
    void strike(int32_t start, int32_t length, const rgba* c);
    void family(int32_t start, int32_t length, const std::string& name);
    void size(int32_t start, int32_t length, double points);
    // A uniform tab stop every `width` pixels; an exact line height.
    void tabs(double width);
    void line_height(double pixels);

    // Metrics, in the box's pixels. The caret before character p (its top
    // left; with lower, its bottom right too).
    void caret(int32_t p, double* x, double* y, double* w, double* h);
    // The character under a point and whether the point is on its trailing
    // half: how many characters the caret passes then.
    int32_t hit(double x, double y, int32_t* trailing);
    double line_height_at(int32_t p);  // of the line holding character p
    void extent(double* w, double* h);  // width without trailing white space
    int32_t lines();

    // Paints backdrops then the text at a point, in the given colour where
    // no range sets one.
    void paint(cairo_t* cr, double x, double y, rgba text_colour);

    PangoLayout* layout() { return layout_; }

  private:
    struct shade { int32_t start, end; rgba c; };
    PangoLayout* layout_;
    PangoAttrList* attrs_;
    std::vector<uint32_t> byte_of;  // byte index of each character, then the text's size
    std::vector<shade> shades;
    fonts::para_look para_;
    double width_, height_;
    bool changed_ = true;

    bool range(int32_t start, int32_t length, uint32_t* b0, uint32_t* b1) const;
    void add(PangoAttribute* a, uint32_t b0, uint32_t b1);
    int32_t char_of(uint32_t byte) const;
    // Where the layout's origin sits in the box: alignment of a text that
    // does not wrap, and vertical alignment.
    void origin(double* dx, double* dy);
    void refresh();
};

// A face's text box, laid out now (rich-text faces keep theirs in their
// `handles` block; the caller must not free those). Styles in a rich-text
// face's `data` raise `draw-invalid` at the bad value. Null when the
// face's text is not a string. `owned` tells whether the caller frees it.
box* layout_face(kiv_value* face, bool* owned);

// The face's kept layout is made again before its next use.
void relayout_later(kiv_value* face);

// The routine behind `text-box-metrics`: the answer for a rich-text face.
void metrics_routine();

// A face's text drawn at a point (the `text` command with a face, and a
// rich-text face's own painting); with fill_face its colour fills its size
// first. Style errors end the painting quietly when catch_errors.
void draw_face(cairo_t* cr, double x, double y, kiv_value* face, rgba pen, bool fill_face, bool catch_errors);
// A string at a point in a font (null: the default font) and a colour.
void draw_string(cairo_t* cr, double x, double y, kiv_value* text, const fonts::look* font, rgba pen);

}  // namespace kiv::text_box
