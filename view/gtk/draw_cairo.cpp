// The draw context on cairo.
#include "view/gtk/draw_cairo.h"

#include <algorithm>
#include <cmath>

#include <pango/pangocairo.h>
#include <pixman.h>

#include "runtime/datatypes/image.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"
#include "view/gtk/text_box.h"

namespace kiv::draw {

void premultiply(uint32_t* px, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint32_t p = px[i], a = p >> 24;
        if (a == 255) continue;
        auto m = [a](uint32_t c) { return (c * a + 127) / 255; };
        px[i] = (a << 24) | (m((p >> 16) & 255) << 16) | (m((p >> 8) & 255) << 8) | m(p & 255);
    }
}

void unpremultiply(uint32_t* px, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint32_t p = px[i], a = p >> 24;
        if (a == 255) continue;
        if (a == 0) {
            px[i] = 0;
            continue;
        }
        auto d = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
        px[i] = (a << 24) | (d((p >> 16) & 255) << 16) | (d((p >> 8) & 255) << 8) | d(p & 255);
    }
}

namespace {
// One pass of a box blur along rows (step 1) or columns (step = stride),
// with a running sum: cost per pixel is constant whatever the radius.
void blur_pass(uint8_t* px, int count, int lines, int step, int line_step, int r) {
    std::vector<uint8_t> src(static_cast<size_t>(count));
    for (int l = 0; l < lines; l++) {
        uint8_t* row = px + size_t(l) * size_t(line_step);
        for (int i = 0; i < count; i++) src[size_t(i)] = row[size_t(i) * size_t(step)];
        int sum = 0, width = 2 * r + 1;
        for (int i = -r; i <= r; i++) sum += i >= 0 && i < count ? src[size_t(i)] : 0;
        for (int i = 0; i < count; i++) {
            row[size_t(i) * size_t(step)] = uint8_t(sum / width);
            int out = i - r, in = i + r + 1;
            if (out >= 0) sum -= src[size_t(out)];
            if (in < count) sum += src[size_t(in)];
        }
    }
}
// Three box passes each way come close to a gaussian of the same reach.
void box_blur(uint8_t* px, int w, int h, int stride, int radius) {
    int r = std::max(1, radius / 3);
    for (int pass = 0; pass < 3; pass++) {
        blur_pass(px, w, h, 1, stride, r);
        blur_pass(px, h, w, stride, 1, r);
    }
}
constexpr double PI = 3.14159265358979323846;
double rad(double deg) { return deg * PI / 180; }
void rgba(cairo_pattern_t* pat, double offset, colour c) {
    cairo_pattern_add_color_stop_rgba(pat, offset, c.r / 255.0, c.g / 255.0, c.b / 255.0, (255 - c.t) / 255.0);
}
// The matrix of a rotation (or other change) about a centre.
cairo_matrix_t about(point c, const cairo_matrix_t& m) {
    cairo_matrix_t t, r;
    cairo_matrix_init_translate(&t, -c.x, -c.y);
    cairo_matrix_multiply(&r, &t, &m);
    cairo_matrix_init_translate(&t, c.x, c.y);
    cairo_matrix_multiply(&r, &r, &t);
    return r;
}
}  // namespace

cairo_context::cairo_context(cairo_t* c) : cr(c) {
    states.emplace_back();
    cairo_matrix_init_identity(&top().pen.m);
    cairo_matrix_init_identity(&top().fill.m);
    top().pen.kind = brush::SOLID;  // black pen, no fill, width 1
    cairo_set_line_width(cr, 1);
    cairo_save(cr);
}

cairo_context::~cairo_context() {
    drop_clips(0);
    while (states.size() > 1) pop_state();
    cairo_restore(cr);
}

void cairo_context::drop_clips(size_t keep) {
    while (clips.size() > keep) {
        cairo_path_destroy(clips.back());
        clips.pop_back();
    }
}

void cairo_context::push_state() {
    states.push_back(top());
    top().clips = clips.size();
    cairo_save(cr);
}

void cairo_context::pop_state() {
    if (states.size() < 2) return;
    cairo_restore(cr);  // brings back the matrix and the clip of the push
    drop_clips(top().clips);
    states.pop_back();
}

void cairo_context::line_width(float w) {
    top().width = w;
    cairo_set_line_width(cr, w);
}
void cairo_context::line_join(line_join_kind j) {
    cairo_set_line_join(cr, j == JOIN_ROUND ? CAIRO_LINE_JOIN_ROUND : j == JOIN_BEVEL ? CAIRO_LINE_JOIN_BEVEL
                                                                                       : CAIRO_LINE_JOIN_MITER);
}
void cairo_context::line_cap(line_cap_kind c) {
    cairo_set_line_cap(cr, c == CAP_ROUND ? CAIRO_LINE_CAP_ROUND : c == CAP_SQUARE ? CAIRO_LINE_CAP_SQUARE
                                                                                    : CAIRO_LINE_CAP_BUTT);
}
void cairo_context::line_pattern(const float* l, size_t n) {
    top().dashes.assign(l, l + n);
}
// Dash lengths count in pen widths, so a wider pen keeps its rhythm.
void cairo_context::apply_dashes() {
    std::vector<double> d;
    for (float f : top().dashes) d.push_back(double(f) * top().width);
    cairo_set_dash(cr, d.data(), int(d.size()), 0);
}
void cairo_context::anti_alias(bool on) { cairo_set_antialias(cr, on ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE); }

void cairo_context::brush_off(bool fill) { (fill ? top().fill : top().pen).kind = brush::OFF; }
void cairo_context::brush_colour(bool fill, colour c) {
    brush& b = fill ? top().fill : top().pen;
    b.kind = brush::SOLID;
    b.c = c;
}
void cairo_context::brush_gradient(bool fill, const gradient& g) {
    brush& b = fill ? top().fill : top().pen;
    b.kind = brush::GRADIENT;
    b.g = g;
    cairo_matrix_init_identity(&b.m);
}

// The source of a brush for the path in hand: a gradient without geometry
// spans the path's bounding box.
void cairo_context::set_source(const brush& b) {
    if (b.kind == brush::SOLID) {
        cairo_set_source_rgba(cr, b.c.r / 255.0, b.c.g / 255.0, b.c.b / 255.0, (255 - b.c.t) / 255.0);
        return;
    }
    if (b.kind == brush::IMAGE) {
        // Tiles start at the shape's top-left corner, then the brush's own
        // transform applies.
        double x0, y0, x1, y1;
        cairo_path_extents(cr, &x0, &y0, &x1, &y1);
        cairo_matrix_t m = b.m, t;
        cairo_matrix_init_translate(&t, std::min(x0, x1), std::min(y0, y1));
        cairo_matrix_multiply(&m, &m, &t);
        if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) cairo_matrix_init_identity(&m);
        cairo_pattern_set_matrix(b.tiles.get(), &m);
        cairo_set_source(cr, b.tiles.get());
        return;
    }
    const gradient& g = b.g;
    cairo_pattern_t* pat;
    if (g.positional) {
        // Offsets along x from the start point, then turned and scaled.
        if (g.kind == GRAD_LINEAR) pat = cairo_pattern_create_linear(g.begin, 0, g.end, 0);
        else pat = cairo_pattern_create_radial(0, 0, g.begin, 0, 0, g.end);
        cairo_matrix_t m;
        cairo_matrix_init_translate(&m, g.p[0].x, g.p[0].y);
        cairo_matrix_rotate(&m, rad(g.angle));
        cairo_matrix_scale(&m, g.sx, g.sy);
        cairo_matrix_invert(&m);
        cairo_pattern_set_matrix(pat, &m);
    } else {
        double x0, y0, x1, y1;
        if (g.placed) {
            x0 = g.p[0].x, y0 = g.p[0].y, x1 = g.p[1].x, y1 = g.p[1].y;
        } else {
            cairo_path_extents(cr, &x0, &y0, &x1, &y1);
        }
        if (g.kind == GRAD_LINEAR) {
            pat = g.placed ? cairo_pattern_create_linear(x0, y0, x1, y1) : cairo_pattern_create_linear(x0, y0, x1, y0);
        } else if (g.placed && g.kind == GRAD_RADIAL) {
            point f = g.points == 3 ? g.p[2] : g.p[0];
            pat = cairo_pattern_create_radial(f.x, f.y, 0, g.p[0].x, g.p[0].y, g.radius);
        } else {
            // Diamonds paint as radial gradients: centre and reach from the box.
            double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
            double r = g.placed ? std::hypot(x1 - x0, y1 - y0) : std::max(x1 - x0, y1 - y0) / 2;
            if (g.placed) cx = x0, cy = y0;
            pat = cairo_pattern_create_radial(cx, cy, 0, cx, cy, r);
        }
        cairo_matrix_t inv = b.m;
        if (cairo_matrix_invert(&inv) == CAIRO_STATUS_SUCCESS) {
            cairo_matrix_t pm;
            cairo_pattern_get_matrix(pat, &pm);
            cairo_matrix_multiply(&pm, &inv, &pm);
            cairo_pattern_set_matrix(pat, &pm);
        }
    }
    size_t n = g.stops.size();
    for (size_t i = 0; i < n; i++) {
        double at = g.stops[i].has_offset ? g.stops[i].offset : n > 1 ? double(i) / double(n - 1) : 0;
        rgba(pat, at, g.stops[i].c);
    }
    cairo_pattern_set_extend(pat, g.spread == SPREAD_REPEAT    ? CAIRO_EXTEND_REPEAT
                                  : g.spread == SPREAD_REFLECT ? CAIRO_EXTEND_REFLECT
                                                               : CAIRO_EXTEND_PAD);
    cairo_set_source(cr, pat);
    cairo_pattern_destroy(pat);
}

// Images -----------------------------------------------------------------------

namespace {
void release_surface(void* s) { cairo_surface_destroy(static_cast<cairo_surface_t*>(s)); }

struct surface_ref {
    cairo_surface_t* s;
    ~surface_ref() {
        if (s) cairo_surface_destroy(s);
    }
};

// A copy of what has been drawn so far on a surface.
cairo_surface_t* snapshot(cairo_surface_t* from) {
    cairo_surface_flush(from);
    int w = cairo_image_surface_get_width(from), h = cairo_image_surface_get_height(from);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* c = cairo_create(s);
    cairo_set_source_surface(c, from, 0, 0);
    cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
    cairo_paint(c);
    cairo_destroy(c);
    return s;
}
}  // namespace

cairo_surface_t* image_surface(const kiv_value* img) {
    image::store* st = image::store_of(img);
    if (!st || !st->pixels || st->width == 0 || st->height == 0) return nullptr;
    if (st->render && st->release_render == release_surface)
        return cairo_surface_reference(static_cast<cairo_surface_t*>(st->render));
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(st->width), int(st->height));
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    const uint32_t* px = image::lock(img, false);
    for (uint32_t y = 0; y < st->height; y++)
        image::premultiply(px + uint64_t(y) * st->width, reinterpret_cast<uint32_t*>(data + int64_t(y) * stride),
                           st->width);
    image::unlock(img);
    cairo_surface_mark_dirty(s);
    if (st->render && st->release_render) st->release_render(st->render);
    st->render = cairo_surface_reference(s);
    st->release_render = release_surface;
    return s;
}

void cairo_context::drawing_on(const kiv_value* img, cairo_surface_t* surface) {
    target_store = image::store_of(img);
    target_surface = surface;
}

// The pixels of an image to draw with; the image being drawn on gives what
// has been drawn so far. Null when the image has none.
cairo_surface_t* cairo_context::source_of(const kiv_value* img) {
    if (!image::store_of(img)) return nullptr;
    if (target_store && image::store_of(img) == target_store && target_surface) return snapshot(target_surface);
    cairo_surface_t* s = image_surface(img);
    if (!s) fire(err::INTERNAL, err::internal::no_memory);
    return s;
}

void cairo_context::image(const kiv_value* img, const point* q, size_t n, const point* crop) {
    surface_ref src{source_of(img)};
    if (!src.s) return;
    double iw = cairo_image_surface_get_width(src.s), ih = cairo_image_surface_get_height(src.s);
    double sx0 = 0, sy0 = 0, sw = iw, sh = ih;
    point origin = n ? q[0] : point{0, 0};
    if (crop) {
        // A part of the picture; an offset before its top-left corner shifts
        // the picture by as much.
        double ax = crop[0].x, ay = crop[0].y, bx = ax + crop[1].x, by = ay + crop[1].y;
        if (ax > bx) std::swap(ax, bx);
        if (ay > by) std::swap(ay, by);
        if (bx <= 0 || by <= 0) return;
        if (ax <= 0) origin.x += float(-ax), ax = 0;
        if (ay <= 0) origin.y += float(-ay), ay = 0;
        bx = std::min(bx, iw), by = std::min(by, ih);
        if (bx <= ax || by <= ay) return;
        sx0 = ax, sy0 = ay, sw = bx - ax, sh = by - ay;
    }
    if (n >= 3) {
        point quad[4] = {q[0], q[1], q[2], n >= 4 ? q[3] : point{q[0].x, q[2].y}};
        image_mapped(src.s, quad, sx0, sy0, sw, sh);
        return;
    }
    double dx = origin.x, dy = origin.y, dw = sw, dh = sh;
    if (n == 2) dx = q[0].x, dy = q[0].y, dw = q[1].x - q[0].x, dh = q[1].y - q[0].y;
    if (dw == 0 || dh == 0) return;
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_translate(cr, dx, dy);
    cairo_scale(cr, dw / sw, dh / sh);
    cairo_set_source_surface(cr, src.s, -sx0, -sy0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_rectangle(cr, 0, 0, sw, sh);
    cairo_fill(cr);
    cairo_restore(cr);
}

// The source rectangle mapped onto a quadrilateral (top-left, top-right,
// bottom-right, bottom-left) by a projective transform. Cairo has none, so
// pixman resamples the picture into the quadrilateral's device box and
// cairo fills the quadrilateral with it.
void cairo_context::image_mapped(cairo_surface_t* src, const point* q, double sx0, double sy0, double sw,
                                 double sh) {
    double x[4], y[4];
    for (int i = 0; i < 4; i++) {
        x[i] = q[i].x, y[i] = q[i].y;
        cairo_user_to_device(cr, &x[i], &y[i]);
    }
    // The unit square onto the quadrilateral.
    double a, b, c, d, e, f, g = 0, h = 0;
    double sx = x[0] - x[1] + x[2] - x[3], sy = y[0] - y[1] + y[2] - y[3];
    if (std::fabs(sx) < 1e-9 && std::fabs(sy) < 1e-9) {
        a = x[1] - x[0], b = x[3] - x[0], d = y[1] - y[0], e = y[3] - y[0];
    } else {
        double dx1 = x[1] - x[2], dx2 = x[3] - x[2], dy1 = y[1] - y[2], dy2 = y[3] - y[2];
        double det = dx1 * dy2 - dx2 * dy1;
        if (std::fabs(det) < 1e-12) return;
        g = (sx * dy2 - dx2 * sy) / det, h = (dx1 * sy - sx * dy1) / det;
        a = x[1] - x[0] + g * x[1], b = x[3] - x[0] + h * x[3];
        d = y[1] - y[0] + g * y[1], e = y[3] - y[0] + h * y[3];
    }
    c = x[0], f = y[0];
    pixman_f_transform square = {{{a, b, c}, {d, e, f}, {g, h, 1}}};
    pixman_f_transform unit = {{{1 / sw, 0, -sx0 / sw}, {0, 1 / sh, -sy0 / sh}, {0, 0, 1}}};
    pixman_f_transform forward, back;
    pixman_f_transform_multiply(&forward, &square, &unit);
    if (!pixman_f_transform_invert(&back, &forward)) return;
    // The matrix is known up to a factor: its last term is made 1.
    double w = back.m[2][2];
    if (!(std::fabs(w) > 1e-12) || !std::isfinite(w)) return;
    for (auto& row : back.m)
        for (double& v : row) v /= w;
    pixman_transform fixed;
    if (!pixman_transform_from_pixman_f_transform(&fixed, &back)) return;
    // Only the part of the box inside the clip is worked.
    double cx0, cy0, cx1, cy1;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_clip_extents(cr, &cx0, &cy0, &cx1, &cy1);
    cairo_restore(cr);
    double bx0 = std::floor(std::max(std::min({x[0], x[1], x[2], x[3]}), cx0));
    double by0 = std::floor(std::max(std::min({y[0], y[1], y[2], y[3]}), cy0));
    double bx1 = std::ceil(std::min(std::max({x[0], x[1], x[2], x[3]}), cx1));
    double by1 = std::ceil(std::min(std::max({y[0], y[1], y[2], y[3]}), cy1));
    if (!(bx1 > bx0 && by1 > by0) || bx1 - bx0 > 16384 || by1 - by0 > 16384) return;
    int bw = int(bx1 - bx0), bh = int(by1 - by0);
    surface_ref box{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bw, bh)};
    if (cairo_surface_status(box.s) != CAIRO_STATUS_SUCCESS) return;
    cairo_surface_flush(src);
    cairo_surface_flush(box.s);
    pixman_image_t* from = pixman_image_create_bits(
        PIXMAN_a8r8g8b8, cairo_image_surface_get_width(src), cairo_image_surface_get_height(src),
        reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(src)), cairo_image_surface_get_stride(src));
    pixman_image_t* to = pixman_image_create_bits(PIXMAN_a8r8g8b8, bw, bh,
                                                  reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(box.s)),
                                                  cairo_image_surface_get_stride(box.s));
    pixman_image_set_transform(from, &fixed);
    pixman_image_set_filter(from, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, int32_t(bx0), int32_t(by0), 0, 0, 0, 0, bw, bh);
    pixman_image_unref(from);
    pixman_image_unref(to);
    cairo_surface_mark_dirty(box.s);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_new_path(cr);
    for (int i = 0; i < 4; i++) cairo_line_to(cr, x[i], y[i]);
    cairo_close_path(cr);
    cairo_set_source_surface(cr, box.s, bx0, by0);
    cairo_fill(cr);
    cairo_restore(cr);
}

// Image brushes: one tile, mirrored as the tile mode asks, repeated from
// the top-left corner of each shape painted (or its edges stretched with
// `clamp`).
void cairo_context::image_brush(bool fill, cairo_surface_t* src, const point* area, size_t n, tile_kind tile) {
    double iw = cairo_image_surface_get_width(src), ih = cairo_image_surface_get_height(src);
    double x0 = n > 0 ? std::max(0.0, double(area[0].x)) : 0, y0 = n > 0 ? std::max(0.0, double(area[0].y)) : 0;
    double x1 = n > 1 ? std::min(iw, double(area[1].x)) : iw, y1 = n > 1 ? std::min(ih, double(area[1].y)) : ih;
    int w = int(x1 - x0), h = int(y1 - y0);
    if (w < 1 || h < 1) {
        brush_off(fill);
        return;
    }
    int kx = tile == TILE_FLIP_X || tile == TILE_FLIP_XY ? 2 : 1;
    int ky = tile == TILE_FLIP_Y || tile == TILE_FLIP_XY ? 2 : 1;
    surface_ref t{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w * kx, h * ky)};
    cairo_t* c = cairo_create(t.s);
    cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
    for (int ix = 0; ix < kx; ix++)
        for (int iy = 0; iy < ky; iy++) {
            cairo_save(c);
            if (ix) cairo_translate(c, 2.0 * w, 0), cairo_scale(c, -1, 1);
            if (iy) cairo_translate(c, 0, 2.0 * h), cairo_scale(c, 1, -1);
            cairo_set_source_surface(c, src, -x0, -y0);
            cairo_rectangle(c, 0, 0, w, h);
            cairo_fill(c);
            cairo_restore(c);
        }
    cairo_destroy(c);
    cairo_pattern_t* pat = cairo_pattern_create_for_surface(t.s);
    cairo_pattern_set_extend(pat, tile == TILE_CLAMP ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_REPEAT);
    brush& b = fill ? top().fill : top().pen;
    b.kind = brush::IMAGE;
    b.tiles.reset(pat, cairo_pattern_destroy);
    cairo_matrix_init_identity(&b.m);
}

void cairo_context::brush_bitmap(bool fill, const kiv_value* img, const point* area, size_t n, tile_kind tile) {
    surface_ref src{source_of(img)};
    if (!src.s) {
        brush_off(fill);
        return;
    }
    image_brush(fill, src.s, area, n, tile);
}

// A pattern's tile is drawn by its block with the brushes and line style in
// force, from an identity transform.
void cairo_context::brush_pattern(bool fill, point size, const point* area, size_t n, tile_kind tile,
                                  const kiv_value* tile_block) {
    double w = std::round(size.x), h = std::round(size.y);
    if (!(w >= 1 && h >= 1 && w <= 16384 && h <= 16384)) {
        brush_off(fill);
        return;
    }
    surface_ref t{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(w), int(h))};
    {
        std::unique_ptr<cairo_t, void (*)(cairo_t*)> c(cairo_create(t.s), cairo_destroy);
        cairo_set_line_join(c.get(), cairo_get_line_join(cr));
        cairo_set_line_cap(c.get(), cairo_get_line_cap(cr));
        cairo_set_antialias(c.get(), cairo_get_antialias(cr));
        cairo_context inner(c.get());
        inner.states[0] = top();
        inner.states[0].clips = 0;
        inner.line_width(top().width);
        parse_block(inner, tile_block);
    }
    cairo_surface_flush(t.s);
    image_brush(fill, t.s, area, n, tile);
}

void cairo_context::shadow_off() { top().shadows.clear(); }
void cairo_context::shadow(const shadow_spec& s) { top().shadows.push_back(s); }

// Drop shadows of the current path: its shape, grown by the spread, moved
// by the offset and blurred, painted in the shadow colour below the shape.
// The `inset` mark is kept with the shadow and paints like any other.
void cairo_context::cast_shadows() {
    if (top().shadows.empty()) return;
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    cairo_identity_matrix(cr);
    cairo_path_t* path = cairo_copy_path(cr);
    double x0, y0, x1, y1;
    cairo_path_extents(cr, &x0, &y0, &x1, &y1);
    double cx0, cy0, cx1, cy1;
    cairo_clip_extents(cr, &cx0, &cy0, &cx1, &cy1);
    for (const shadow_spec& s : top().shadows) {
        // The mask covers the shape grown by the blur's reach, cut to what
        // can land inside the clip once offset. A wide blur is worked at a
        // smaller scale and stretched back: its cost stays bounded whatever
        // the radius, and a blur that wide shows no fine detail anyway.
        int reach = s.blur + 2;
        int pad = reach + std::max(0, s.spread);
        double k = std::max(1.0, std::ceil(s.blur / 32.0));
        double rx0 = std::max(x0 - pad, cx0 - s.offset.x - reach), ry0 = std::max(y0 - pad, cy0 - s.offset.y - reach);
        double rx1 = std::min(x1 + pad, cx1 - s.offset.x + reach), ry1 = std::min(y1 + pad, cy1 - s.offset.y + reach);
        if (!(rx1 > rx0 && ry1 > ry0)) continue;
        double ox = std::floor(rx0 / k) * k, oy = std::floor(ry0 / k) * k;
        double wd = std::ceil((rx1 - ox) / k), hd = std::ceil((ry1 - oy) / k);
        if (wd > 16384 || hd > 16384) continue;
        int w = int(wd), h = int(hd);
        cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
        cairo_t* mc = cairo_create(mask);
        cairo_scale(mc, 1 / k, 1 / k);
        cairo_translate(mc, -ox, -oy);
        cairo_append_path(mc, path);
        cairo_set_source_rgba(mc, 0, 0, 0, 1);
        cairo_fill_preserve(mc);
        if (s.spread > 0) {
            cairo_set_line_width(mc, 2.0 * s.spread);
            cairo_stroke(mc);
        }
        cairo_destroy(mc);
        cairo_surface_flush(mask);
        if (s.blur > 0)
            box_blur(cairo_image_surface_get_data(mask), w, h, cairo_image_surface_get_stride(mask),
                     int(std::lround(s.blur / k)));
        cairo_surface_mark_dirty(mask);
        cairo_save(cr);
        cairo_new_path(cr);
        cairo_set_source_rgba(cr, s.c.r / 255.0, s.c.g / 255.0, s.c.b / 255.0, (255 - s.c.t) / 255.0);
        cairo_translate(cr, ox + s.offset.x, oy + s.offset.y);
        cairo_scale(cr, k, k);
        cairo_mask_surface(cr, mask, 0, 0);
        cairo_restore(cr);
        cairo_surface_destroy(mask);
    }
    cairo_new_path(cr);
    cairo_append_path(cr, path);
    cairo_path_destroy(path);
    cairo_set_matrix(cr, &m);
}

// Fills (when asked) and strokes the current path, then clears it.
void cairo_context::paint(bool fill_too) {
    if (fill_too && top().fill.kind != brush::OFF) {
        set_source(top().fill);
        cairo_fill_preserve(cr);
    }
    if (top().pen.kind != brush::OFF) {
        set_source(top().pen);
        apply_dashes();
        cairo_stroke_preserve(cr);
    }
    cairo_new_path(cr);
}

void cairo_context::line(const point* p, size_t n) {
    cairo_new_path(cr);
    for (size_t i = 0; i < n; i++) cairo_line_to(cr, p[i].x, p[i].y);
    paint(false);
}

void cairo_context::box(point a, point b, float radius) {
    double x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y), x1 = std::max(a.x, b.x), y1 = std::max(a.y, b.y);
    double r = std::min<double>({radius, (x1 - x0) / 2, (y1 - y0) / 2});
    cairo_new_path(cr);
    if (r <= 0) {
        cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
    } else {
        cairo_arc(cr, x1 - r, y0 + r, r, -PI / 2, 0);
        cairo_arc(cr, x1 - r, y1 - r, r, 0, PI / 2);
        cairo_arc(cr, x0 + r, y1 - r, r, PI / 2, PI);
        cairo_arc(cr, x0 + r, y0 + r, r, PI, 3 * PI / 2);
        cairo_close_path(cr);
    }
    cast_shadows();
    paint(true);
}

void cairo_context::polygon(const point* p, size_t n) {
    cairo_new_path(cr);
    for (size_t i = 0; i < n; i++) cairo_line_to(cr, p[i].x, p[i].y);
    cairo_close_path(cr);
    paint(true);
}

void cairo_context::circle(point c, float rx, float ry) { ellipse({c.x - rx, c.y - ry}, {2 * rx, 2 * ry}); }

void cairo_context::ellipse(point tl, point size) {
    cairo_new_path(cr);
    if (size.x == 0 || size.y == 0) return;
    cairo_save(cr);
    cairo_translate(cr, tl.x + size.x / 2, tl.y + size.y / 2);
    cairo_scale(cr, size.x / 2, size.y / 2);
    cairo_arc(cr, 0, 0, 1, 0, 2 * PI);
    cairo_restore(cr);  // the path stays, the pen keeps its own width
    cast_shadows();
    paint(true);
}

void cairo_context::arc(point c, point r, float start, float sweep, bool closed) {
    cairo_new_path(cr);
    if (r.x == 0 || r.y == 0) return;
    cairo_save(cr);
    cairo_translate(cr, c.x, c.y);
    cairo_scale(cr, r.x, r.y);
    if (closed) cairo_move_to(cr, 0, 0);
    if (sweep >= 0) cairo_arc(cr, 0, 0, 1, rad(start), rad(start + sweep));
    else cairo_arc_negative(cr, 0, 0, 1, rad(start), rad(start + sweep));
    if (closed) cairo_close_path(cr);
    cairo_restore(cr);
    paint(closed);
}

void cairo_context::curve(const point* p, size_t n) {
    cairo_new_path(cr);
    cairo_move_to(cr, p[0].x, p[0].y);
    if (n == 3) {  // quadratic: raised to the cubic with the same shape
        cairo_curve_to(cr, p[0].x + 2.0 / 3 * (p[1].x - p[0].x), p[0].y + 2.0 / 3 * (p[1].y - p[0].y),
                       p[2].x + 2.0 / 3 * (p[1].x - p[2].x), p[2].y + 2.0 / 3 * (p[1].y - p[2].y), p[2].x, p[2].y);
    } else {
        cairo_curve_to(cr, p[1].x, p[1].y, p[2].x, p[2].y, p[3].x, p[3].y);
    }
    paint(false);
}

// Catmull-Rom through the points, as cubic Béziers.
void cairo_context::spline(const point* p, size_t n, bool closed) {
    cairo_new_path(cr);
    cairo_move_to(cr, p[0].x, p[0].y);
    size_t segments = closed ? n : n - 1;
    auto pt = [&](long i) {
        if (closed) return p[((i % long(n)) + long(n)) % long(n)];
        return p[std::clamp<long>(i, 0, long(n) - 1)];
    };
    for (size_t i = 0; i < segments; i++) {
        point p0 = pt(long(i) - 1), p1 = pt(long(i)), p2 = pt(long(i) + 1), p3 = pt(long(i) + 2);
        cairo_curve_to(cr, p1.x + (p2.x - p0.x) / 6, p1.y + (p2.y - p0.y) / 6, p2.x - (p3.x - p1.x) / 6,
                       p2.y - (p3.y - p1.y) / 6, p2.x, p2.y);
    }
    if (closed) cairo_close_path(cr);
    paint(closed);
}

// Text in the current font with the pen's colour (a gradient pen lends its
// last stop's): a string, its layout's top-left corner at the point, or a
// rich-text face laid out with its styles.
void cairo_context::font(const kiv_value* f) { top().font = std::make_shared<const fonts::look>(fonts::read(f)); }

void cairo_context::text(point at, const kiv_value* s) {
    const brush& pen = top().pen;
    if (pen.kind == brush::OFF) return;
    colour c = pen.kind == brush::SOLID || pen.g.stops.empty() ? pen.c : pen.g.stops.back().c;
    text_box::rgba rgba{c.r, c.g, c.b, uint8_t(255 - c.t)};
    kiv_value v = *s;
    if (type_of(&v) == TYPE_STRING) text_box::draw_string(cr, at.x, at.y, &v, top().font.get(), rgba);
    else if (type_of(&v) == TYPE_OBJECT) text_box::draw_face(cr, at.x, at.y, &v, rgba, true, true);
}

// Clips: each narrows the area in force (the mode word is read, not
// applied). They are kept in device space so that a pop can rebuild them.
void cairo_context::clip_rect(point a, point b, clip_mode m) {
    cairo_new_path(cr);
    cairo_rectangle(cr, std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    clip_path(m);
}

void cairo_context::clip_path(clip_mode) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    cairo_identity_matrix(cr);
    clips.push_back(cairo_copy_path(cr));
    cairo_set_matrix(cr, &m);
    cairo_clip(cr);
}

void cairo_context::clip_pop() {
    if (clips.size() <= top().clips) return;
    drop_clips(clips.size() - 1);
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    cairo_reset_clip(cr);
    cairo_identity_matrix(cr);
    for (cairo_path_t* p : clips) {
        cairo_new_path(cr);
        cairo_append_path(cr, p);
        cairo_clip(cr);
    }
    cairo_set_matrix(cr, &m);
}

void cairo_context::on_matrix(target_kind t, const cairo_matrix_t& m) {
    if (t == ON_DRAWING) {
        cairo_transform(cr, &m);
        return;
    }
    brush& b = t == ON_PEN ? top().pen : top().fill;
    cairo_matrix_multiply(&b.m, &m, &b.m);
}

void cairo_context::rotate(target_kind t, float angle, point c) {
    cairo_matrix_t m;
    cairo_matrix_init_rotate(&m, rad(angle));
    on_matrix(t, about(c, m));
}
void cairo_context::scale(target_kind t, float sx, float sy, point c) {
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, sx, sy);
    on_matrix(t, about(c, m));
}
void cairo_context::translate(target_kind t, point d) {
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, d.x, d.y);
    on_matrix(t, m);
}
void cairo_context::skew(target_kind t, float ax, float ay, point c) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, 1, std::tan(rad(ay)), std::tan(rad(ax)), 1, 0, 0);
    on_matrix(t, about(c, m));
}
void cairo_context::transform(target_kind t, point c, float angle, float sx, float sy, point d) {
    cairo_matrix_t r, s, m;
    cairo_matrix_init_rotate(&r, rad(angle));
    r = about(c, r);
    cairo_matrix_init_scale(&s, sx, sy);
    cairo_matrix_multiply(&m, &s, &r);  // scale, then rotate about the centre
    cairo_matrix_t tr;
    cairo_matrix_init_translate(&tr, d.x, d.y);
    cairo_matrix_multiply(&m, &m, &tr);
    on_matrix(t, m);
}
void cairo_context::matrix(target_kind t, const float f[6]) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, f[0], f[1], f[2], f[3], f[4], f[5]);
    on_matrix(t, m);
}
void cairo_context::reset_matrix(target_kind t) {
    if (t == ON_DRAWING) cairo_identity_matrix(cr);
    else cairo_matrix_init_identity(&(t == ON_PEN ? top().pen : top().fill).m);
}
void cairo_context::invert_matrix(target_kind t) {
    cairo_matrix_t m;
    if (t == ON_DRAWING) {
        cairo_get_matrix(cr, &m);
        if (cairo_matrix_invert(&m) == CAIRO_STATUS_SUCCESS) cairo_set_matrix(cr, &m);
    } else {
        brush& b = t == ON_PEN ? top().pen : top().fill;
        m = b.m;
        if (cairo_matrix_invert(&m) == CAIRO_STATUS_SUCCESS) b.m = m;
    }
}

// Shape paths.
void cairo_context::shape_begin() {
    cairo_new_path(cr);
    cur = ctrl = {0, 0};
    ctrl_cubic = ctrl_quad = false;
    cairo_move_to(cr, 0, 0);
}
void cairo_context::shape_move(point p, bool rel) {
    cur = at(p, rel);
    cairo_move_to(cr, cur.x, cur.y);
    ctrl_cubic = ctrl_quad = false;
}
void cairo_context::shape_line(const point* p, size_t n, bool rel) {
    for (size_t i = 0; i < n; i++) {
        cur = at(p[i], rel);
        cairo_line_to(cr, cur.x, cur.y);
    }
    ctrl_cubic = ctrl_quad = false;
}
void cairo_context::shape_hline(float x, bool rel) {
    cur.x = rel ? cur.x + x : x;
    cairo_line_to(cr, cur.x, cur.y);
    ctrl_cubic = ctrl_quad = false;
}
void cairo_context::shape_vline(float y, bool rel) {
    cur.y = rel ? cur.y + y : y;
    cairo_line_to(cr, cur.x, cur.y);
    ctrl_cubic = ctrl_quad = false;
}

// An elliptical arc from the current point to the end point, found from its
// endpoints as a centre, radii and angles.
void cairo_context::shape_arc(point end, float rx_, float ry_, float rotation, bool sweep, bool large, bool rel) {
    point e = at(end, rel);
    double rx = std::fabs(rx_), ry = std::fabs(ry_);
    ctrl_cubic = ctrl_quad = false;
    if (rx == 0 || ry == 0 || (e.x == cur.x && e.y == cur.y)) {
        cairo_line_to(cr, e.x, e.y);
        cur = e;
        return;
    }
    double phi = rad(rotation), cs = std::cos(phi), sn = std::sin(phi);
    double dx = (cur.x - e.x) / 2, dy = (cur.y - e.y) / 2;
    double x1 = cs * dx + sn * dy, y1 = -sn * dx + cs * dy;
    double lambda = x1 * x1 / (rx * rx) + y1 * y1 / (ry * ry);
    if (lambda > 1) rx *= std::sqrt(lambda), ry *= std::sqrt(lambda);
    double num = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1;
    double den = rx * rx * y1 * y1 + ry * ry * x1 * x1;
    double k = std::sqrt(std::max(0.0, num / den)) * (large == sweep ? -1 : 1);
    double cx1 = k * rx * y1 / ry, cy1 = -k * ry * x1 / rx;
    double cx = cs * cx1 - sn * cy1 + (cur.x + e.x) / 2, cy = sn * cx1 + cs * cy1 + (cur.y + e.y) / 2;
    double a0 = std::atan2((y1 - cy1) / ry, (x1 - cx1) / rx);
    double a1 = std::atan2((-y1 - cy1) / ry, (-x1 - cx1) / rx);
    double da = a1 - a0;
    if (sweep && da < 0) da += 2 * PI;
    if (!sweep && da > 0) da -= 2 * PI;
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, phi);
    cairo_scale(cr, rx, ry);
    if (da > 0) cairo_arc(cr, 0, 0, 1, a0, a0 + da);
    else cairo_arc_negative(cr, 0, 0, 1, a0, a0 + da);
    cairo_restore(cr);
    cur = e;
}

void cairo_context::shape_curve(const point* p, size_t n, bool rel) {
    for (size_t i = 0; i + 2 < n; i += 3) {
        point a = at(p[i], rel), b = at(p[i + 1], rel), c = at(p[i + 2], rel);
        cairo_curve_to(cr, a.x, a.y, b.x, b.y, c.x, c.y);
        ctrl = b;
        cur = c;
    }
    ctrl_cubic = n >= 3, ctrl_quad = false;
}
void cairo_context::shape_curv(const point* p, size_t n, bool rel) {
    for (size_t i = 0; i + 1 < n; i += 2) {
        point a = ctrl_cubic ? point{2 * cur.x - ctrl.x, 2 * cur.y - ctrl.y} : cur;
        point b = at(p[i], rel), c = at(p[i + 1], rel);
        cairo_curve_to(cr, a.x, a.y, b.x, b.y, c.x, c.y);
        ctrl = b;
        cur = c;
        ctrl_cubic = true;
    }
    ctrl_quad = false;
}
void cairo_context::shape_qcurve(const point* p, size_t n, bool rel) {
    for (size_t i = 0; i + 1 < n; i += 2) {
        point q = at(p[i], rel), e = at(p[i + 1], rel);
        cairo_curve_to(cr, cur.x + 2.0 / 3 * (q.x - cur.x), cur.y + 2.0 / 3 * (q.y - cur.y),
                       e.x + 2.0 / 3 * (q.x - e.x), e.y + 2.0 / 3 * (q.y - e.y), e.x, e.y);
        ctrl = q;
        cur = e;
        ctrl_quad = true;
    }
    ctrl_cubic = false;
}
void cairo_context::shape_qcurv(const point* p, size_t n, bool rel) {
    for (size_t i = 0; i < n; i++) {
        point q = ctrl_quad ? point{2 * cur.x - ctrl.x, 2 * cur.y - ctrl.y} : cur;
        point e = at(p[i], rel);
        cairo_curve_to(cr, cur.x + 2.0 / 3 * (q.x - cur.x), cur.y + 2.0 / 3 * (q.y - cur.y),
                       e.x + 2.0 / 3 * (q.x - e.x), e.y + 2.0 / 3 * (q.y - e.y), e.x, e.y);
        ctrl = q;
        cur = e;
        ctrl_quad = true;
    }
    ctrl_cubic = false;
}
void cairo_context::shape_close() {
    cairo_close_path(cr);
    double x, y;
    cairo_get_current_point(cr, &x, &y);
    cur = {float(x), float(y)};
    ctrl_cubic = ctrl_quad = false;
}
void cairo_context::shape_end(bool draw) {
    if (draw) paint(true);
}

}  // namespace kiv::draw
