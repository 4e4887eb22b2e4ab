#pragma once
// The draw context on cairo: state, brushes, clipping, transforms and the
// path primitives, drawing into a cairo surface. A window's `draw` signal
// hands its cairo_t to the same class, so a block paints alike in a window
// and into an image.
#include <cairo.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "view/gtk/draw_dialect.h"
#include "view/gtk/fonts.h"

namespace kiv::draw {

// Pixels as image! keeps them (straight alpha) to cairo's premultiplied
// ARGB32 and back, in place.
void premultiply(uint32_t* pixels, size_t n);
void unpremultiply(uint32_t* pixels, size_t n);

// A new reference to a premultiplied surface of the image's pixels, kept
// with the image until its pixels change; null when it has none.
cairo_surface_t* image_surface(const kiv_value* img);

class cairo_context : public context {
  public:
    explicit cairo_context(cairo_t* cr);
    // Drawing into this image through that surface: the image drawn into
    // itself is read from what has been drawn so far.
    void drawing_on(const kiv_value* img, cairo_surface_t* surface);
    ~cairo_context() override;

    void push_state() override;
    void pop_state() override;
    void line_width(float w) override;
    void line_join(line_join_kind j) override;
    void line_cap(line_cap_kind c) override;
    void line_pattern(const float* lengths, size_t n) override;
    void anti_alias(bool on) override;
    void font(const kiv_value* font_object) override;
    void brush_off(bool fill) override;
    void brush_colour(bool fill, colour c) override;
    void brush_gradient(bool fill, const gradient& g) override;
    void brush_pattern(bool fill, point size, const point* area, size_t n, tile_kind tile,
                       const kiv_value* tile_block) override;
    void brush_bitmap(bool fill, const kiv_value* img, const point* area, size_t n, tile_kind tile) override;
    void line(const point* p, size_t n) override;
    void box(point a, point b, float radius) override;
    void polygon(const point* p, size_t n) override;
    void circle(point c, float rx, float ry) override;
    void ellipse(point top_left, point size) override;
    void arc(point c, point radii, float start, float sweep, bool closed) override;
    void curve(const point* p, size_t n) override;
    void spline(const point* p, size_t n, bool closed) override;
    void image(const kiv_value* img, const point* corners, size_t n, const point* crop) override;
    void text(point at, const kiv_value* string_or_face) override;
    void shadow_off() override;
    void shadow(const shadow_spec& s) override;
    void clip_rect(point a, point b, clip_mode mode) override;
    void clip_path(clip_mode mode) override;
    void clip_pop() override;
    void rotate(target_kind t, float angle, point centre) override;
    void scale(target_kind t, float sx, float sy, point centre) override;
    void translate(target_kind t, point d) override;
    void skew(target_kind t, float ax, float ay, point centre) override;
    void transform(target_kind t, point centre, float angle, float sx, float sy, point d) override;
    void matrix(target_kind t, const float m[6]) override;
    void reset_matrix(target_kind t) override;
    void invert_matrix(target_kind t) override;
    void shape_begin() override;
    void shape_move(point p, bool rel) override;
    void shape_line(const point* p, size_t n, bool rel) override;
    void shape_hline(float x, bool rel) override;
    void shape_vline(float y, bool rel) override;
    void shape_arc(point end, float rx, float ry, float rotation, bool sweep, bool large, bool rel) override;
    void shape_curve(const point* p, size_t n, bool rel) override;
    void shape_curv(const point* p, size_t n, bool rel) override;
    void shape_qcurve(const point* p, size_t n, bool rel) override;
    void shape_qcurv(const point* p, size_t n, bool rel) override;
    void shape_close() override;
    void shape_end(bool draw) override;

  private:
    struct brush {
        enum { OFF, SOLID, GRADIENT, IMAGE } kind = OFF;
        colour c{};
        gradient g{};
        std::shared_ptr<cairo_pattern_t> tiles;  // IMAGE: laid from the shape's top-left corner
        cairo_matrix_t m;  // the brush's own transform
    };
    struct state {
        brush pen, fill;
        float width = 1;
        std::vector<float> dashes;  // in pen widths
        size_t clips = 0;           // how many of the clips below were in force
        std::vector<shadow_spec> shadows;  // under later boxes, circles and ellipses
        std::shared_ptr<const fonts::look> font;  // null: the default font
    };
    cairo_t* cr;
    const void* target_store = nullptr;  // the image drawn into, when one is
    cairo_surface_t* target_surface = nullptr;
    std::vector<cairo_path_t*> clips;  // device space, re-applied after a pop
    std::vector<state> states;
    // The shape path's pen position and the last control point, for the
    // smooth curve forms.
    point cur{}, ctrl{};
    bool ctrl_cubic = false, ctrl_quad = false;

    state& top() { return states.back(); }
    void apply_dashes();
    void paint(bool fill_too);
    void cast_shadows();
    void set_source(const brush& b);
    cairo_surface_t* source_of(const kiv_value* img);
    void image_brush(bool fill, cairo_surface_t* src, const point* area, size_t n, tile_kind tile);
    void image_mapped(cairo_surface_t* src, const point* q, double sx0, double sy0, double sw, double sh);
    void on_matrix(target_kind t, const cairo_matrix_t& m);
    void drop_clips(size_t keep);
    point at(point p, bool rel) const { return rel ? point{cur.x + p.x, cur.y + p.y} : p; }
};

}  // namespace kiv::draw
