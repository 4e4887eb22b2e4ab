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

class cairo_context : public context {
  public:
    explicit cairo_context(cairo_t* cr);
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
    void brush_pattern(bool, point, const point*, size_t, tile_kind, const kiv_value*) override {}
    void brush_bitmap(bool, const kiv_value*, const point*, size_t, tile_kind) override {}
    void line(const point* p, size_t n) override;
    void box(point a, point b, float radius) override;
    void polygon(const point* p, size_t n) override;
    void circle(point c, float rx, float ry) override;
    void ellipse(point top_left, point size) override;
    void arc(point c, point radii, float start, float sweep, bool closed) override;
    void curve(const point* p, size_t n) override;
    void spline(const point* p, size_t n, bool closed) override;
    void image(const kiv_value*, const point*, size_t, const point*) override {}
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
        enum { OFF, SOLID, GRADIENT } kind = OFF;
        colour c{};
        gradient g{};
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
    void on_matrix(target_kind t, const cairo_matrix_t& m);
    void drop_clips(size_t keep);
    point at(point p, bool rel) const { return rel ? point{cur.x + p.x, cur.y + p.y} : p; }
};

}  // namespace kiv::draw
