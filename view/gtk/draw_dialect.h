#pragma once
// The draw dialect: walks a draw block and turns each command into one call
// on a draw context. The interpreter checks every argument and reports a
// malformed block as `draw-invalid` at the offending value; it draws nothing
// itself, so the same walk serves image targets, windows and tests.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/value.h"

namespace kiv::draw {

struct point { float x, y; };

enum line_join_kind : int { JOIN_MITER, JOIN_MITER_BEVEL, JOIN_ROUND, JOIN_BEVEL };
enum line_cap_kind : int { CAP_FLAT, CAP_SQUARE, CAP_ROUND };
enum gradient_kind : int { GRAD_LINEAR, GRAD_RADIAL, GRAD_DIAMOND };
enum spread_kind : int { SPREAD_PAD, SPREAD_REPEAT, SPREAD_REFLECT };
enum tile_kind : int { TILE, TILE_FLIP_X, TILE_FLIP_Y, TILE_FLIP_XY, TILE_CLAMP };
enum clip_mode : int { CLIP_REPLACE, CLIP_INTERSECT, CLIP_UNION, CLIP_XOR, CLIP_EXCLUDE };
// What a transform command acts on: the drawing, or a brush's own transform.
enum target_kind : int { ON_DRAWING, ON_PEN, ON_FILL };

// A colour as the dialect passes it on: the tuple's first four bytes, the
// fourth a transparency (0 opaque, 255 clear).
struct colour { uint8_t r, g, b, t; };

struct gradient_stop {
    colour c;
    float offset;     // meaningful when has_offset
    bool has_offset;
};

struct gradient {
    gradient_kind kind;
    std::vector<gradient_stop> stops;  // every stop kept, however many
    bool placed;         // geometry given: drawing coordinates; else fitted per shape
    point p[3];          // linear: start end; radial: centre, -, focal; diamond: start point [point]
    uint32_t points;     // how many of p were given
    float radius;        // radial
    spread_kind spread;
    // The positional form: begin and end offsets, rotation and scales.
    bool positional;
    float begin, end, angle, sx, sy;
};

struct shadow_spec {
    point offset;
    int32_t blur, spread;
    colour c;
    bool inset;
};

// The operations a drawing target provides. Points are in the drawing's
// coordinates; the context applies its transform.
class context {
  public:
    virtual ~context() = default;
    // state
    virtual void push_state() = 0;
    virtual void pop_state() = 0;
    virtual void line_width(float w) = 0;
    virtual void line_join(line_join_kind j) = 0;
    virtual void line_cap(line_cap_kind c) = 0;
    virtual void line_pattern(const float* lengths, size_t n) = 0;
    virtual void anti_alias(bool on) = 0;
    virtual void font(const kiv_value* font_object) = 0;
    // brushes (fill selects the fill brush, else the pen)
    virtual void brush_off(bool fill) = 0;
    virtual void brush_colour(bool fill, colour c) = 0;
    virtual void brush_gradient(bool fill, const gradient& g) = 0;
    virtual void brush_pattern(bool fill, point size, const point* area, size_t area_points, tile_kind tile,
                               const kiv_value* tile_block) = 0;
    virtual void brush_bitmap(bool fill, const kiv_value* image, const point* area, size_t area_points,
                              tile_kind tile) = 0;
    // primitives
    virtual void line(const point* p, size_t n) = 0;
    virtual void box(point a, point b, float radius) = 0;
    virtual void polygon(const point* p, size_t n) = 0;  // closed; a triangle is three points
    virtual void circle(point c, float rx, float ry) = 0;
    virtual void ellipse(point top_left, point size) = 0;
    virtual void arc(point c, point radii, float start, float sweep, bool closed) = 0;
    virtual void curve(const point* p, size_t n) = 0;  // 3: quadratic, 4: cubic
    virtual void spline(const point* p, size_t n, bool closed) = 0;
    // corners: 0 (at 0x0), 1 (at a point), 2 (stretched), 3 or 4 (mapped)
    virtual void image(const kiv_value* image, const point* corners, size_t n, const point* crop) = 0;
    virtual void text(point at, const kiv_value* string_or_face) = 0;
    virtual void shadow_off() = 0;
    virtual void shadow(const shadow_spec& s) = 0;
    // clipping: each clip narrows the area in force; clip_pop drops the last
    virtual void clip_rect(point a, point b, clip_mode mode) = 0;
    virtual void clip_path(clip_mode mode) = 0;  // to the path the shape calls built
    virtual void clip_pop() = 0;
    // transforms
    virtual void rotate(target_kind t, float angle, point centre) = 0;
    virtual void scale(target_kind t, float sx, float sy, point centre) = 0;
    virtual void translate(target_kind t, point d) = 0;
    virtual void skew(target_kind t, float ax, float ay, point centre) = 0;
    virtual void transform(target_kind t, point centre, float angle, float sx, float sy, point d) = 0;
    virtual void matrix(target_kind t, const float m[6]) = 0;
    virtual void reset_matrix(target_kind t) = 0;
    virtual void invert_matrix(target_kind t) = 0;
    // shape paths; rel: points are offsets from the current point
    virtual void shape_begin() = 0;
    virtual void shape_move(point p, bool rel) = 0;
    virtual void shape_line(const point* p, size_t n, bool rel) = 0;
    virtual void shape_hline(float x, bool rel) = 0;
    virtual void shape_vline(float y, bool rel) = 0;
    virtual void shape_arc(point end, float rx, float ry, float rotation, bool sweep, bool large, bool rel) = 0;
    // whole groups only: curve 3 points each, curv and qcurve 2, qcurv 1
    virtual void shape_curve(const point* p, size_t n, bool rel) = 0;
    virtual void shape_curv(const point* p, size_t n, bool rel) = 0;
    virtual void shape_qcurve(const point* p, size_t n, bool rel) = 0;
    virtual void shape_qcurv(const point* p, size_t n, bool rel) = 0;
    virtual void shape_close() = 0;
    // ends the path: filled and stroked when draw, else left for a clip
    virtual void shape_end(bool draw) = 0;
};

// Interprets the block from its index to its tail on the context. Errors
// are raised (`draw-invalid`, `draw-infinite`).
void parse_block(context& ctx, const kiv_value* block);

// One whole drawing: the block interpreted on the context. With silent a
// draw error ends the drawing quietly; with catch_errors any error is
// dropped. Otherwise the error propagates after the drawing ended. Whatever
// was drawn before the bad command stays.
void run(context& ctx, const kiv_value* block, bool silent, bool catch_errors);

}  // namespace kiv::draw
