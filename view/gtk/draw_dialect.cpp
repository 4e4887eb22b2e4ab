// The draw dialect interpreter: argument checking and dispatch to a context.
#include "view/gtk/draw_dialect.h"

#include <algorithm>
#include <functional>

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::draw {
namespace {

// Every word the dialect knows, looked up once per drawing.
enum kw : int {
    K_LINE, K_LINE_WIDTH, K_LINE_JOIN, K_LINE_CAP, K_LINE_PATTERN, K_PEN, K_FILL_PEN, K_BOX, K_TRIANGLE,
    K_POLYGON, K_CIRCLE, K_ELLIPSE, K_ARC, K_CURVE, K_SPLINE, K_IMAGE, K_TEXT, K_FONT, K_ANTI_ALIAS,
    K_SHADOW, K_CLIP, K_SHAPE, K_ROTATE, K_SCALE, K_TRANSLATE, K_SKEW, K_TRANSFORM, K_MATRIX,
    K_RESET_MATRIX, K_INVERT_MATRIX, K_PUSH,
    K_OFF, K_CLOSED, K_BORDER, K_CROP, K_INSET, K_REPLACE, K_INTERSECT, K_UNION, K_XOR, K_EXCLUDE,
    K_LINEAR, K_RADIAL, K_DIAMOND, K_PAD, K_REPEAT, K_REFLECT, K_PATTERN, K_BITMAP, K_TILE, K_FLIP_X,
    K_FLIP_Y, K_FLIP_XY, K_CLAMP, K_MITER, K_MITER_BEVEL, K_ROUND, K_BEVEL, K_FLAT, K_SQUARE, K_MOVE,
    K_HLINE, K_VLINE, K_SWEEP, K_LARGE, K_QCURVE, K_CURV, K_QCURV, K_CLOSE,
    K_COUNT
};
constexpr const char* kw_names[K_COUNT] = {
    "line", "line-width", "line-join", "line-cap", "line-pattern", "pen", "fill-pen", "box", "triangle",
    "polygon", "circle", "ellipse", "arc", "curve", "spline", "image", "text", "font", "anti-alias",
    "shadow", "clip", "shape", "rotate", "scale", "translate", "skew", "transform", "matrix",
    "reset-matrix", "invert-matrix", "push",
    "off", "closed", "border", "crop", "inset", "replace", "intersect", "union", "xor", "exclude",
    "linear", "radial", "diamond", "pad", "repeat", "reflect", "pattern", "bitmap", "tile", "flip-x",
    "flip-y", "flip-xy", "clamp", "miter", "miter-bevel", "round", "bevel", "flat", "square", "move",
    "hline", "vline", "sweep", "large", "qcurve", "curv", "qcurv", "close",
};

bool point_q(const kiv_value* v) { return v && (type_of(v) == TYPE_PAIR || type_of(v) == TYPE_POINT2D); }
bool number_q(const kiv_value* v) { return v && (type_of(v) == TYPE_INTEGER || type_of(v) == TYPE_FLOAT); }
bool word_q(const kiv_value* v) { return v && type_of(v) == TYPE_WORD; }

point to_point(const kiv_value* v) {
    if (type_of(v) == TYPE_PAIR) return {float(pair::x_of(v)), float(pair::y_of(v))};
    return {kiv::point::component(v, 0), kiv::point::component(v, 1)};
}
float to_float(const kiv_value* v) {
    return type_of(v) == TYPE_INTEGER ? float(integer::get_value(v)) : float(cell::get_float(v));
}
colour to_colour(const kiv_value* t) {
    const uint8_t* b = tuple::bytes_of(t);
    return {b[0], b[1], b[2], tuple::length_of(t) > 3 ? b[3] : uint8_t(0)};
}
// The value of a word, or null when it has none.
const kiv_value* value_of(const kiv_value* w) {
    const kiv_value* v = kiv::_context::get_if(w);
    return v && type_of(v) != TYPE_UNSET ? v : nullptr;
}
// A tuple, or a word whose value is a tuple.
const kiv_value* colour_cell(const kiv_value* v) {
    if (!v) return nullptr;
    if (type_of(v) == TYPE_TUPLE) return v;
    if (type_of(v) == TYPE_WORD) {
        const kiv_value* t = value_of(v);
        if (t && type_of(t) == TYPE_TUPLE) return t;
    }
    return nullptr;
}

class walker {
  public:
    explicit walker(context& c) : ctx(c) {
        for (int k = 0; k < K_COUNT; k++) keyword[k] = symbol::resolve(symbol::make_flagged(kw_names[k]));
    }

    void block(const kiv_value* blk) {
        enter(blk);
        kiv_value b = *blk;
        for (uint32_t i = b.data1; i < tail(b); i++) {
            const kiv_value* v = at(b, i);
            switch (type_of(v)) {
                case TYPE_WORD: i = command(b, i); break;
                case TYPE_SET_WORD: set_word(b, i); break;
                case TYPE_BLOCK: {
                    kiv_value inner = *v;
                    block(&inner);
                    break;
                }
                default: invalid(b, i);
            }
        }
        leave();
    }

  private:
    context& ctx;
    int32_t keyword[K_COUNT];
    std::vector<point> pts;
    std::vector<float> floats;

    static uint32_t tail(const kiv_value& b) { return block::length_all(&b); }
    // The cell at an index, null past the tail. Re-read each time: a
    // context operation may allocate and move the buffer.
    static const kiv_value* at(const kiv_value& b, uint32_t i) {
        return i < tail(b) ? block::cells(&b) + i : nullptr;
    }
    [[noreturn]] static void invalid(const kiv_value& b, uint32_t i) {
        kiv_value pos = b;
        pos.data1 = std::min(i, tail(b));
        fire(err::SCRIPT, err::script::draw_invalid, &pos);
    }
    // The blocks being walked go on the cycle stack, which the collector
    // keeps up to date, to refuse one that holds itself.
    void enter(const kiv_value* blk) {
        if (cycles::find_q(blk->data2)) fire(err::SCRIPT, err::script::draw_infinite, blk);
        cycles::push(blk->data2);
    }
    void leave() { cycles::pop(); }

    int kw_of(const kiv_value* v) const {
        if (!v || !any_word_q(type_of(v))) return -1;
        int32_t s = symbol::resolve(word::symbol_of(v));
        for (int k = 0; k < K_COUNT; k++)
            if (keyword[k] == s) return k;
        return -1;
    }
    bool is(const kiv_value* v, kw k) const { return word_q(v) && kw_of(v) == k; }

    static void set_word(const kiv_value& b, uint32_t i) {
        kiv_value pos = b;
        pos.data1 = i + 1;
        kiv_value w = *at(b, i);
        kiv::_context::set(&w, &pos);
    }

    point need_point(const kiv_value& b, uint32_t i) {
        const kiv_value* v = at(b, i);
        if (!point_q(v)) invalid(b, i);
        return to_point(v);
    }
    float need_number(const kiv_value& b, uint32_t i) {
        const kiv_value* v = at(b, i);
        if (!number_q(v)) invalid(b, i);
        return to_float(v);
    }
    float need_scale(const kiv_value& b, uint32_t i) {
        const kiv_value* v = at(b, i);
        if (v && type_of(v) == TYPE_PERCENT) return float(percent::get(v));
        return need_number(b, i);
    }
    // Reads at least `min` points from i; returns the index after the last.
    uint32_t points(const kiv_value& b, uint32_t i, size_t min, size_t max = SIZE_MAX) {
        pts.clear();
        while (pts.size() < max && point_q(at(b, i))) pts.push_back(to_point(at(b, i++)));
        if (pts.size() < min) invalid(b, i);
        return i;
    }

    uint32_t command(const kiv_value& b, uint32_t i) {
        int k = kw_of(at(b, i));
        uint32_t j = i + 1;
        switch (k) {
            case K_LINE:
                j = points(b, j, 2);
                ctx.line(pts.data(), pts.size());
                return j - 1;
            case K_LINE_WIDTH:
                ctx.line_width(need_number(b, j));
                return j;
            case K_LINE_JOIN: {
                const kiv_value* w = at(b, j);
                if (!word_q(w)) invalid(b, j);
                int m = kw_of(w);
                ctx.line_join(m == K_MITER_BEVEL ? JOIN_MITER_BEVEL : m == K_ROUND ? JOIN_ROUND
                              : m == K_BEVEL     ? JOIN_BEVEL
                                                 : JOIN_MITER);
                return j;
            }
            case K_LINE_CAP: {
                const kiv_value* w = at(b, j);
                if (!word_q(w)) invalid(b, j);
                int m = kw_of(w);
                ctx.line_cap(m == K_SQUARE ? CAP_SQUARE : m == K_ROUND ? CAP_ROUND : CAP_FLAT);
                return j;
            }
            case K_LINE_PATTERN: {
                floats.clear();
                while (at(b, j) && type_of(at(b, j)) == TYPE_INTEGER) floats.push_back(to_float(at(b, j++)));
                ctx.line_pattern(floats.data(), floats.size());
                return j - 1;
            }
            case K_PEN: return pen_form(b, j, false);
            case K_FILL_PEN: return pen_form(b, j, true);
            case K_BOX: {
                point a = need_point(b, j), c = need_point(b, j + 1);
                j += 2;
                const kiv_value* r = at(b, j);
                float radius = 0;
                if (r && !word_q(r) && !point_q(r) && type_of(r) != TYPE_BLOCK && type_of(r) != TYPE_SET_WORD) {
                    radius = need_number(b, j);  // anything else here is a malformed radius
                    j++;
                }
                ctx.box(a, c, radius);
                return j - 1;
            }
            case K_TRIANGLE:
                j = points(b, j, 3, 3);
                ctx.polygon(pts.data(), 3);
                return j - 1;
            case K_POLYGON:
                j = points(b, j, 3);
                ctx.polygon(pts.data(), pts.size());
                return j - 1;
            case K_CIRCLE: {
                point c = need_point(b, j);
                float rx = need_number(b, j + 1), ry = rx;
                j += 2;
                if (number_q(at(b, j))) ry = to_float(at(b, j++));
                ctx.circle(c, rx, ry);
                return j - 1;
            }
            case K_ELLIPSE:
                ctx.ellipse(need_point(b, j), need_point(b, j + 1));
                return j + 1;
            case K_ARC: {
                point c = need_point(b, j), r = need_point(b, j + 1);
                float start = need_number(b, j + 2), sweep = need_number(b, j + 3);
                j += 4;
                bool closed = is(at(b, j), K_CLOSED);
                ctx.arc(c, r, start, sweep, closed);
                return closed ? j : j - 1;
            }
            case K_CURVE:
                j = points(b, j, 3, 4);
                ctx.curve(pts.data(), pts.size());
                return j - 1;
            case K_SPLINE: {
                j = points(b, j, 2);
                bool closed = is(at(b, j), K_CLOSED);
                ctx.spline(pts.data(), pts.size(), closed);
                return closed ? j : j - 1;
            }
            case K_IMAGE: return image(b, j);
            case K_TEXT: {
                point p = need_point(b, j);
                const kiv_value* s = at(b, j + 1);
                if (!s || (type_of(s) != TYPE_STRING && type_of(s) != TYPE_OBJECT)) invalid(b, j + 1);
                kiv_value str = *s;
                ctx.text(p, &str);
                return j + 1;
            }
            case K_FONT: {
                const kiv_value* f = at(b, j);
                if (f && type_of(f) == TYPE_WORD) f = value_of(f);
                if (!f || type_of(f) != TYPE_OBJECT) invalid(b, j);
                kiv_value obj = *f;
                ctx.font(&obj);
                return j;
            }
            case K_ANTI_ALIAS: {
                const kiv_value* w = at(b, j);
                if (!word_q(w)) invalid(b, j);
                ctx.anti_alias(kw_of(w) != K_OFF);
                return j;
            }
            case K_SHADOW: return shadow(b, j);
            case K_CLIP: return clip(b, j);
            case K_SHAPE: {
                const kiv_value* s = at(b, j);
                if (!s || type_of(s) != TYPE_BLOCK) invalid(b, j);
                kiv_value sb = *s;
                ctx.shape_begin();
                shape(sb);
                ctx.shape_end(true);
                return j;
            }
            case K_ROTATE: case K_SCALE: case K_TRANSLATE: case K_SKEW: case K_TRANSFORM: case K_MATRIX:
            case K_RESET_MATRIX: case K_INVERT_MATRIX:
                return transform(b, j, kw(k));
            case K_PUSH: {
                const kiv_value* s = at(b, j);
                if (!s || type_of(s) != TYPE_BLOCK) invalid(b, j);
                kiv_value inner = *s;
                ctx.push_state();
                scoped(inner, [&] { ctx.pop_state(); });
                return j;
            }
            default: invalid(b, i);
        }
    }

    // Walks a scoping block; the caller has pushed the state and pops it
    // whether the block ends or raises, so no clip or transform leaks out.
    template <class F>
    void scoped(const kiv_value& inner, F after) {
        try {
            block(&inner);
        } catch (...) {
            after();
            throw;
        }
        after();
    }

    tile_kind tile_of(const kiv_value* v) const {
        switch (word_q(v) ? kw_of(v) : -1) {
            case K_TILE: return TILE;
            case K_FLIP_X: return TILE_FLIP_X;
            case K_FLIP_Y: return TILE_FLIP_Y;
            case K_FLIP_XY: return TILE_FLIP_XY;
            case K_CLAMP: return TILE_CLAMP;
            default: return tile_kind(-1);
        }
    }

    uint32_t pen_form(const kiv_value& b, uint32_t j, bool fill) {
        const kiv_value* v = at(b, j);
        if (!v) invalid(b, j);
        int k = word_q(v) ? kw_of(v) : -1;
        if (k == K_OFF) {
            ctx.brush_off(fill);
            return j;
        }
        if (k == K_LINEAR || k == K_RADIAL || k == K_DIAMOND) return gradient_form(b, j, fill, gradient_kind(k - K_LINEAR));
        if (k == K_PATTERN) {
            point size = need_point(b, j + 1);
            j = points(b, j + 2, 0, 2);
            tile_kind t = tile_of(at(b, j));
            if (t >= 0) j++; else t = TILE;
            const kiv_value* blk = at(b, j);
            if (!blk || type_of(blk) != TYPE_BLOCK) invalid(b, j);
            kiv_value tile_block = *blk;
            ctx.brush_pattern(fill, size, pts.data(), pts.size(), t, &tile_block);
            return j;
        }
        if (k == K_BITMAP) {
            const kiv_value* w = at(b, j + 1);
            const kiv_value* img = word_q(w) ? value_of(w) : nullptr;
            if (!img || type_of(img) != TYPE_IMAGE) invalid(b, j + 1);
            kiv_value image_cell = *img;
            j = points(b, j + 2, 0, 2);
            tile_kind t = tile_of(at(b, j));
            if (t >= 0) j++; else t = TILE;
            ctx.brush_bitmap(fill, &image_cell, pts.data(), pts.size(), t);
            return j - 1;
        }
        const kiv_value* c = colour_cell(v);
        if (!c) invalid(b, j);
        ctx.brush_colour(fill, to_colour(c));
        return j;
    }

    // Stops: a colour and an optional float offset each. A stop whose colour
    // is missing is refused rather than painted with an undefined colour.
    uint32_t stops(const kiv_value& b, uint32_t j, gradient& g, bool floats_count) {
        for (;;) {
            const kiv_value* v = at(b, j);
            const kiv_value* c = colour_cell(v);
            if (!c) {
                if (floats_count && v && type_of(v) == TYPE_FLOAT) invalid(b, j);  // a stop with no colour
                if (g.stops.size() >= 2) return j;
                invalid(b, j);
            }
            gradient_stop s{to_colour(c), 0, false};
            j++;
            if (at(b, j) && type_of(at(b, j)) == TYPE_FLOAT) {
                s.offset = to_float(at(b, j++));
                s.has_offset = true;
            }
            g.stops.push_back(s);
        }
    }

    uint32_t gradient_form(const kiv_value& b, uint32_t j, bool fill, gradient_kind kind) {
        gradient g{};
        g.kind = kind;
        g.spread = SPREAD_PAD;
        g.sx = g.sy = 1;
        j++;
        if (point_q(at(b, j))) {  // positional form
            g.positional = g.placed = true;
            g.p[0] = to_point(at(b, j));
            g.points = 1;
            const kiv_value* b0 = at(b, j + 1);
            const kiv_value* e0 = at(b, j + 2);
            if (!b0 || type_of(b0) != TYPE_INTEGER) invalid(b, j + 1);
            if (!e0 || type_of(e0) != TYPE_INTEGER) invalid(b, j + 2);
            g.begin = to_float(b0);
            g.end = to_float(e0);
            j += 3;
            float* opt[3] = {&g.angle, &g.sx, &g.sy};
            for (int n = 0; n < 3 && number_q(at(b, j)) && !colour_cell(at(b, j)); n++) *opt[n] = to_float(at(b, j++));
            j = stops(b, j, g, true);
            ctx.brush_gradient(fill, g);
            return j - 1;
        }
        j = stops(b, j, g, false);
        if (point_q(at(b, j))) {
            g.placed = true;
            g.p[0] = to_point(at(b, j++));
            g.points = 1;
            if (kind == GRAD_RADIAL) {
                g.radius = need_number(b, j++);
                if (point_q(at(b, j))) {
                    g.p[2] = to_point(at(b, j++));
                    g.points = 3;
                }
            } else {
                g.p[1] = need_point(b, j++);
                g.points = 2;
                if (kind == GRAD_DIAMOND && point_q(at(b, j))) {
                    g.p[2] = to_point(at(b, j++));
                    g.points = 3;
                }
            }
        }
        const kiv_value* s = at(b, j);
        int k = word_q(s) ? kw_of(s) : -1;
        if (k == K_PAD || k == K_REPEAT || k == K_REFLECT) {
            g.spread = k == K_PAD ? SPREAD_PAD : k == K_REPEAT ? SPREAD_REPEAT : SPREAD_REFLECT;
            j++;
        }
        ctx.brush_gradient(fill, g);
        return j - 1;
    }

    uint32_t image(const kiv_value& b, uint32_t j) {
        const kiv_value* v = at(b, j);
        if (v && type_of(v) == TYPE_WORD) v = value_of(v);
        if (!v || type_of(v) != TYPE_IMAGE) invalid(b, j);
        kiv_value img = *v;
        j = points(b, j + 1, 0, 4);
        std::vector<point> corners = pts;
        if (colour_cell(at(b, j))) j++;  // a key colour: read, not painted
        point crop[2];
        bool cropped = false;
        if (is(at(b, j), K_BORDER)) {
            j++;
        } else if (is(at(b, j), K_CROP)) {
            crop[0] = need_point(b, j + 1);
            crop[1] = need_point(b, j + 2);
            cropped = true;
            j += 3;
        }
        ctx.image(&img, corners.data(), corners.size(), cropped ? crop : nullptr);
        return j - 1;
    }

    uint32_t shadow(const kiv_value& b, uint32_t j) {
        if (is(at(b, j), K_OFF)) {
            ctx.shadow_off();
            return j;
        }
        shadow_spec s{need_point(b, j), 0, 0, {0, 0, 0, 0}, false};
        j++;
        if (at(b, j) && type_of(at(b, j)) == TYPE_INTEGER) {
            s.blur = integer::get_value(at(b, j++));
            if (at(b, j) && type_of(at(b, j)) == TYPE_INTEGER) s.spread = integer::get_value(at(b, j++));
        }
        const kiv_value* c = at(b, j);
        if (c && (type_of(c) == TYPE_TUPLE || (type_of(c) == TYPE_WORD && kw_of(c) < 0))) {
            const kiv_value* t = colour_cell(c);
            if (!t) invalid(b, j);
            s.c = to_colour(t);
            j++;
            if (is(at(b, j), K_INSET)) {
                s.inset = true;
                j++;
            }
        }
        ctx.shadow(s);
        return j - 1;
    }

    clip_mode mode_of(const kiv_value* v) const {
        switch (word_q(v) ? kw_of(v) : -1) {
            case K_REPLACE: return CLIP_REPLACE;
            case K_INTERSECT: return CLIP_INTERSECT;
            case K_UNION: return CLIP_UNION;
            case K_XOR: return CLIP_XOR;
            case K_EXCLUDE: return CLIP_EXCLUDE;
            default: return clip_mode(-1);
        }
    }

    uint32_t clip(const kiv_value& b, uint32_t j) {
        const kiv_value* v = at(b, j);
        bool rect = point_q(v);
        point p0{}, p1{};
        kiv_value shape_block{};
        if (rect) {
            p0 = to_point(v);
            p1 = need_point(b, j + 1);
            j += 2;
        } else if (v && type_of(v) == TYPE_BLOCK) {
            shape_block = *v;
            j++;
        } else {
            invalid(b, j);
        }
        clip_mode m = mode_of(at(b, j));
        if (m >= 0) j++; else m = CLIP_REPLACE;
        const kiv_value* inner = at(b, j);
        bool scoped_block = inner && type_of(inner) == TYPE_BLOCK;
        kiv_value body = scoped_block ? *inner : kiv_value{};
        if (scoped_block) ctx.push_state();
        auto apply = [&] {
            if (rect) {
                ctx.clip_rect(p0, p1, m);
            } else {
                ctx.shape_begin();
                shape(shape_block);
                ctx.clip_path(m);
            }
        };
        if (!scoped_block) {
            apply();
            return j - 1;
        }
        try {
            apply();
        } catch (...) {
            ctx.pop_state();
            throw;
        }
        scoped(body, [&] {
            ctx.clip_pop();
            ctx.pop_state();
        });
        return j;
    }

    uint32_t transform(const kiv_value& b, uint32_t j, kw k) {
        target_kind t = ON_DRAWING;
        const kiv_value* v = at(b, j);
        if (v && type_of(v) == TYPE_LIT_WORD) {
            int n = kw_of(v);
            if (n == K_PEN) t = ON_PEN;
            else if (n == K_FILL_PEN) t = ON_FILL;
            else invalid(b, j);
            j++;
        }
        point origin{0, 0};
        auto centre = [&] {
            if (point_q(at(b, j))) origin = to_point(at(b, j++));
        };
        std::function<void()> op;
        switch (k) {
            case K_ROTATE: {
                float a = need_number(b, j++);
                centre();
                op = [=, this] { ctx.rotate(t, a, origin); };
                break;
            }
            case K_SCALE: {
                float sx = need_scale(b, j), sy = need_scale(b, j + 1);
                j += 2;
                centre();
                op = [=, this] { ctx.scale(t, sx, sy, origin); };
                break;
            }
            case K_TRANSLATE: {
                point d = need_point(b, j++);
                op = [=, this] { ctx.translate(t, d); };
                break;
            }
            case K_SKEW: {
                float ax = need_number(b, j++), ay = 0;  // one angle skews along x only
                if (number_q(at(b, j))) ay = to_float(at(b, j++));
                centre();
                op = [=, this] { ctx.skew(t, ax, ay, origin); };
                break;
            }
            case K_TRANSFORM: {
                centre();
                float a = need_number(b, j), sx = need_scale(b, j + 1), sy = need_scale(b, j + 2);
                point d = need_point(b, j + 3);
                j += 4;
                op = [=, this] { ctx.transform(t, origin, a, sx, sy, d); };
                break;
            }
            case K_MATRIX: {
                const kiv_value* m = at(b, j);
                if (!m || type_of(m) != TYPE_BLOCK) invalid(b, j);
                kiv_value mb = *m;
                if (tail(mb) - std::min(mb.data1, tail(mb)) != 6) invalid(b, j);
                float f[6];
                for (uint32_t n = 0; n < 6; n++) {
                    const kiv_value* c = at(mb, mb.data1 + n);
                    if (!number_q(c)) invalid(b, j);
                    f[n] = to_float(c);
                }
                j++;
                op = [=, this] { ctx.matrix(t, f); };
                break;
            }
            case K_RESET_MATRIX: op = [=, this] { ctx.reset_matrix(t); }; break;
            default: op = [=, this] { ctx.invert_matrix(t); }; break;
        }
        const kiv_value* inner = at(b, j);
        if (k == K_MATRIX || !inner || type_of(inner) != TYPE_BLOCK) {
            op();
            return j - 1;
        }
        kiv_value body = *inner;
        ctx.push_state();
        try {
            op();
        } catch (...) {
            ctx.pop_state();
            throw;
        }
        scoped(body, [&] { ctx.pop_state(); });
        return j;
    }

    // The shape sub-dialect: path commands into the context's open path.
    void shape(const kiv_value& sb) {
        enter(&sb);
        for (uint32_t i = sb.data1; i < tail(sb); i++) {
            const kiv_value* v = at(sb, i);
            uint32_t t = type_of(v);
            if (t == TYPE_SET_WORD) {
                set_word(sb, i);
            } else if (t == TYPE_BLOCK) {
                kiv_value inner = *v;
                shape(inner);
            } else if (t == TYPE_WORD || t == TYPE_LIT_WORD) {
                i = shape_command(sb, i, t == TYPE_LIT_WORD);
            } else {
                invalid(sb, i);
            }
        }
        leave();
    }

    uint32_t shape_command(const kiv_value& b, uint32_t i, bool rel) {
        uint32_t j = i + 1;
        switch (kw_of(at(b, i))) {
            case K_MOVE: ctx.shape_move(need_point(b, j), rel); return j;
            case K_LINE:
                j = points(b, j, 1);
                ctx.shape_line(pts.data(), pts.size(), rel);
                return j - 1;
            case K_HLINE: ctx.shape_hline(need_number(b, j), rel); return j;
            case K_VLINE: ctx.shape_vline(need_number(b, j), rel); return j;
            case K_ARC: {
                point end = need_point(b, j);
                float rx = need_number(b, j + 1), ry = need_number(b, j + 2), rot = need_number(b, j + 3);
                j += 4;
                bool sweep = false, large = false;
                for (int n = 0; n < 2; n++) {
                    if (!sweep && is(at(b, j), K_SWEEP)) sweep = true, j++;
                    else if (!large && is(at(b, j), K_LARGE)) large = true, j++;
                }
                ctx.shape_arc(end, rx, ry, rot, sweep, large, rel);
                return j - 1;
            }
            case K_CURVE: return groups(b, j, 3, 3, rel, &context::shape_curve);
            case K_CURV: return groups(b, j, 2, 2, rel, &context::shape_curv);
            case K_QCURVE: return groups(b, j, 2, 2, rel, &context::shape_qcurve);
            case K_QCURV: return groups(b, j, 1, 1, rel, &context::shape_qcurv);
            case K_CLOSE: ctx.shape_close(); return i;
            default: invalid(b, i);
        }
    }

    // Curve points in whole groups; a short trailing group is dropped.
    uint32_t groups(const kiv_value& b, uint32_t j, size_t min, size_t group, bool rel,
                    void (context::*op)(const point*, size_t, bool)) {
        j = points(b, j, min);
        (ctx.*op)(pts.data(), pts.size() / group * group, rel);
        return j - 1;
    }
};

}  // namespace

void parse_block(context& ctx, const kiv_value* block) {
    walker w(ctx);
    uint32_t depth = cycles::depth();
    try {
        w.block(block);
    } catch (...) {
        if (cycles::depth() > depth) cycles::drop(cycles::depth() - depth);
        throw;
    }
}

void run(context& ctx, const kiv_value* block, bool silent, bool catch_errors) {
    if (type_of(block) != TYPE_BLOCK) return;
    if (!silent && !catch_errors) {
        parse_block(ctx, block);
        return;
    }
    // A try frame of our own, so that a dropped error leaves the stacks as
    // they were.
    static const kiv_value name = *word::load("draw");
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    auto restore = [&] {
        stack::ctop = saved_frames;
        stack::arguments = saved_arguments;
        stack::top = saved_top;
    };
    stack::mark_try(&name);
    try {
        parse_block(ctx, block);
        restore();
        return;
    } catch (const kiv_exit& e) {
        if (e.level != LEVEL_ERROR) throw;
    }
    sys.pending_exit = LEVEL_NONE;
    kiv_value err = *stack::get_top();
    restore();
    stack::throw_origin = nullptr;
    bool draw_error = error::category_of(&err) == err::SCRIPT &&
                      (error::id_of(&err) == err::script::draw_invalid ||
                       error::id_of(&err) == err::script::draw_infinite);
    if (catch_errors || draw_error) return;
    stack::throw_error(&err);
}

}  // namespace kiv::draw
