// The draw dialect interpreter: which context calls each command makes, and
// where a malformed block is reported.
#include <cstdio>
#include <string>

#include "runtime/datatypes/error.h"
#include "tests/unit/lexed_source.h"
#include "tests/unit/natives_fixture.h"
#include "view/gtk/draw_dialect.h"

using namespace kiv;
using namespace kiv::test;

namespace {

// A context that writes each call as a line of text.
class recorder : public draw::context {
  public:
    std::string log;

  private:
    void put(const std::string& s) { log += (log.empty() ? "" : "; ") + s; }
    static std::string n(float f) {
        char buf[32];
        snprintf(buf, sizeof buf, "%g", double(f));
        return buf;
    }
    static std::string p(draw::point q) { return n(q.x) + "x" + n(q.y); }
    static std::string ps(const draw::point* q, size_t k) {
        std::string s;
        for (size_t i = 0; i < k; i++) s += (i ? " " : "") + p(q[i]);
        return s;
    }
    static std::string c(draw::colour k) {
        return std::to_string(k.r) + "." + std::to_string(k.g) + "." + std::to_string(k.b) + "." + std::to_string(k.t);
    }
    static std::string who(bool fill) { return fill ? "fill" : "pen"; }
    static std::string tgt(draw::target_kind t) { return t == draw::ON_PEN ? "pen:" : t == draw::ON_FILL ? "fill:" : ""; }
    static std::string r(bool rel) { return rel ? "rel " : ""; }

    void push_state() override { put("push"); }
    void pop_state() override { put("pop"); }
    void line_width(float w) override { put("width " + n(w)); }
    void line_join(draw::line_join_kind j) override { put("join " + std::to_string(j)); }
    void line_cap(draw::line_cap_kind k) override { put("cap " + std::to_string(k)); }
    void line_pattern(const float* l, size_t k) override {
        std::string s = "dash";
        for (size_t i = 0; i < k; i++) s += " " + n(l[i]);
        put(s);
    }
    void anti_alias(bool on) override { put(on ? "aa on" : "aa off"); }
    void font(const kiv_value*) override { put("font"); }
    void brush_off(bool fill) override { put(who(fill) + " off"); }
    void brush_colour(bool fill, draw::colour k) override { put(who(fill) + " " + c(k)); }
    void brush_gradient(bool fill, const draw::gradient& g) override {
        std::string s = who(fill) + " grad " + std::to_string(g.kind) + (g.placed ? " placed" : " fitted");
        for (const auto& st : g.stops) s += " " + c(st.c) + (st.has_offset ? "@" + n(st.offset) : "");
        if (g.positional) s += " at " + p(g.p[0]) + " " + n(g.begin) + ".." + n(g.end) + " a" + n(g.angle) + " s" + n(g.sx) + "," + n(g.sy);
        else if (g.placed) s += " geo " + ps(g.p, g.kind == draw::GRAD_RADIAL ? 1 : g.points) + (g.kind == draw::GRAD_RADIAL ? " r" + n(g.radius) + (g.points == 3 ? " f" + p(g.p[2]) : "") : "");
        s += " spread " + std::to_string(g.spread);
        put(s);
    }
    void brush_pattern(bool fill, draw::point size, const draw::point* a, size_t k, draw::tile_kind t, const kiv_value*) override {
        put(who(fill) + " pattern " + p(size) + (k ? " " + ps(a, k) : "") + " tile " + std::to_string(t));
    }
    void brush_bitmap(bool fill, const kiv_value*, const draw::point* a, size_t k, draw::tile_kind t) override {
        put(who(fill) + " bitmap" + (k ? " " + ps(a, k) : "") + " tile " + std::to_string(t));
    }
    void line(const draw::point* q, size_t k) override { put("line " + ps(q, k)); }
    void box(draw::point a, draw::point b, float rad) override { put("box " + p(a) + " " + p(b) + " r" + n(rad)); }
    void polygon(const draw::point* q, size_t k) override { put("polygon " + ps(q, k)); }
    void circle(draw::point ce, float rx, float ry) override { put("circle " + p(ce) + " " + n(rx) + " " + n(ry)); }
    void ellipse(draw::point a, draw::point s) override { put("ellipse " + p(a) + " " + p(s)); }
    void arc(draw::point ce, draw::point ra, float st, float sw, bool closed) override {
        put("arc " + p(ce) + " " + p(ra) + " " + n(st) + " " + n(sw) + (closed ? " closed" : ""));
    }
    void curve(const draw::point* q, size_t k) override { put("curve " + ps(q, k)); }
    void spline(const draw::point* q, size_t k, bool closed) override { put("spline " + ps(q, k) + (closed ? " closed" : "")); }
    void image(const kiv_value*, const draw::point* q, size_t k, const draw::point* crop) override {
        put("image" + (k ? " " + ps(q, k) : "") + (crop ? " crop " + ps(crop, 2) : ""));
    }
    void text(draw::point at, const kiv_value* s) override { put("text " + p(at) + (type_of(s) == TYPE_STRING ? " string" : " face")); }
    void shadow_off() override { put("shadow off"); }
    void shadow(const draw::shadow_spec& s) override {
        put("shadow " + p(s.offset) + " " + std::to_string(s.blur) + " " + std::to_string(s.spread) + " " + c(s.c) + (s.inset ? " inset" : ""));
    }
    void clip_rect(draw::point a, draw::point b, draw::clip_mode m) override { put("clip " + p(a) + " " + p(b) + " mode " + std::to_string(m)); }
    void clip_path(draw::clip_mode m) override { put("clip path mode " + std::to_string(m)); }
    void clip_pop() override { put("unclip"); }
    void rotate(draw::target_kind t, float a, draw::point ce) override { put(tgt(t) + "rotate " + n(a) + " " + p(ce)); }
    void scale(draw::target_kind t, float sx, float sy, draw::point ce) override { put(tgt(t) + "scale " + n(sx) + " " + n(sy) + " " + p(ce)); }
    void translate(draw::target_kind t, draw::point d) override { put(tgt(t) + "translate " + p(d)); }
    void skew(draw::target_kind t, float ax, float ay, draw::point ce) override { put(tgt(t) + "skew " + n(ax) + " " + n(ay) + " " + p(ce)); }
    void transform(draw::target_kind t, draw::point ce, float a, float sx, float sy, draw::point d) override {
        put(tgt(t) + "transform " + p(ce) + " " + n(a) + " " + n(sx) + " " + n(sy) + " " + p(d));
    }
    void matrix(draw::target_kind t, const float m[6]) override {
        std::string s = tgt(t) + "matrix";
        for (int i = 0; i < 6; i++) s += " " + n(m[i]);
        put(s);
    }
    void reset_matrix(draw::target_kind t) override { put(tgt(t) + "reset"); }
    void invert_matrix(draw::target_kind t) override { put(tgt(t) + "invert"); }
    void shape_begin() override { put("begin"); }
    void shape_move(draw::point q, bool rel) override { put(r(rel) + "move " + p(q)); }
    void shape_line(const draw::point* q, size_t k, bool rel) override { put(r(rel) + "sline " + ps(q, k)); }
    void shape_hline(float x, bool rel) override { put(r(rel) + "hline " + n(x)); }
    void shape_vline(float y, bool rel) override { put(r(rel) + "vline " + n(y)); }
    void shape_arc(draw::point e, float rx, float ry, float rot, bool sweep, bool large, bool rel) override {
        put(r(rel) + "sarc " + p(e) + " " + n(rx) + " " + n(ry) + " " + n(rot) + (sweep ? " sweep" : "") + (large ? " large" : ""));
    }
    void shape_curve(const draw::point* q, size_t k, bool rel) override { put(r(rel) + "scurve " + ps(q, k)); }
    void shape_curv(const draw::point* q, size_t k, bool rel) override { put(r(rel) + "curv " + ps(q, k)); }
    void shape_qcurve(const draw::point* q, size_t k, bool rel) override { put(r(rel) + "qcurve " + ps(q, k)); }
    void shape_qcurv(const draw::point* q, size_t k, bool rel) override { put(r(rel) + "qcurv " + ps(q, k)); }
    void shape_close() override { put("close"); }
    void shape_end(bool draw) override { put(draw ? "end draw" : "end"); }
};

// `pic` holds no image: image arguments are checked as such.
const char* prelude = "blue: 0.0.255 green: 0.255.0 pic: \"no image\" ";

class DrawDialect : public NativesTest {
  protected:
    kiv_value block_of_text(const std::string& src) { return run(lexed(std::string(prelude) + src)); }
    std::string calls(const std::string& src) {
        kiv_value b = block_of_text(src);
        recorder rec;
        StackTest::SetUp();
        stack::mark_try(nullptr);
        try {
            draw::parse_block(rec, &b);
        } catch (const kiv_exit&) {
            rec.log += " <raised>";
        }
        StackTest::SetUp();
        return rec.log;
    }
    // The error the block raises: its id and the index its argument is at.
    std::pair<uint32_t, uint32_t> failure(const std::string& src, std::string* drawn = nullptr) {
        kiv_value b = block_of_text(src);
        recorder rec;
        StackTest::SetUp();
        stack::mark_try(nullptr);
        kiv_value e = raised([&] { draw::parse_block(rec, &b); });
        StackTest::SetUp();
        if (drawn) *drawn = rec.log;
        if (type_of(&e) != TYPE_ERROR) return {0, 0};
        EXPECT_EQ(error::category_of(&e), err::SCRIPT) << src;
        const kiv_value* arg = error::field(&e, error::FIELD_ARG1);
        EXPECT_EQ(type_of(arg), uint32_t(TYPE_BLOCK)) << src;
        return {error::id_of(&e), arg->data1};
    }
};

TEST_F(DrawDialect, Commands) {
    struct Case {
        const char* src;
        const char* log;
    } cases[] = {
        {"[line 0x0 10x10 20x0]", "line 0x0 10x10 20x0"},
        {"[line (1.5, 2.5) 3x4]", "line 1.5x2.5 3x4"},
        {"[line-width 3 line-join round line-join whatever line-cap square line-cap other]",
         "width 3; join 2; join 0; cap 1; cap 0"},
        {"[line-pattern 5 2]", "dash 5 2"},
        {"[line-pattern box 0x0 1x1]", "dash; box 0x0 1x1 r0"},
        {"[box 0x0 10x10 box 1x1 5x5 2.5 box 0x0 1x1 [box 2x2 3x3]]",
         "box 0x0 10x10 r0; box 1x1 5x5 r2.5; box 0x0 1x1 r0; box 2x2 3x3 r0"},
        {"[triangle 0x0 10x0 0x10 polygon 0x0 1x0 1x1 0x1]", "polygon 0x0 10x0 0x10; polygon 0x0 1x0 1x1 0x1"},
        {"[circle 5x5 3 circle 5x5 3 4 ellipse 0x0 10x20]", "circle 5x5 3 3; circle 5x5 3 4; ellipse 0x0 10x20"},
        {"[arc 5x5 3x3 0 90 arc 5x5 3x3 0 90 closed]", "arc 5x5 3x3 0 90; arc 5x5 3x3 0 90 closed"},
        {"[curve 0x0 5x5 10x0 curve 0x0 1x1 2x2 3x3]", "curve 0x0 5x5 10x0; curve 0x0 1x1 2x2 3x3"},
        {"[spline 0x0 1x1 spline 0x0 1x1 2x0 closed]", "spline 0x0 1x1; spline 0x0 1x1 2x0 closed"},
        {"[text 1x2 \"hi\" anti-alias off anti-alias on]", "text 1x2 string; aa off; aa on"},
        // pens: colours, words, four-byte tuples, off
        {"[pen 1.2.3 pen blue fill-pen 0.0.255.128 pen off fill-pen off]",
         "pen 1.2.3.0; pen 0.0.255.0; fill 0.0.255.128; pen off; fill off"},
        {"[fill-pen linear blue green box 0x0 100x50]",
         "fill grad 0 fitted 0.0.255.0 0.255.0.0 spread 0; box 0x0 100x50 r0"},
        {"[pen linear blue 0.2 green 0.8 1.2.3 0x0 10x0 reflect]",
         "pen grad 0 placed 0.0.255.0@0.2 0.255.0.0@0.8 1.2.3.0 geo 0x0 10x0 spread 2"},
        {"[fill-pen radial blue green 5x5 10 1x1 repeat]",
         "fill grad 1 placed 0.0.255.0 0.255.0.0 geo 5x5 r10 f1x1 spread 1"},
        {"[fill-pen diamond blue green 0x0 4x4 8x8]", "fill grad 2 placed 0.0.255.0 0.255.0.0 geo 0x0 4x4 8x8 spread 0"},
        {"[fill-pen linear 10x10 0 100 45 2 blue green]",
         "fill grad 0 placed 0.0.255.0 0.255.0.0 at 10x10 0..100 a45 s2,1 spread 0"},
        {"[fill-pen pattern 8x8 flip-x [box 0x0 4x4]]", "fill pattern 8x8 tile 1"},
        {"[shadow 2x2 shadow 2x2 3 4 blue inset shadow off]",
         "shadow 2x2 0 0 0.0.0.0; shadow 2x2 3 4 0.0.255.0 inset; shadow off"},
        // clips: modes are read; a block scopes the clip and the state
        {"[clip 0x0 5x5 xor clip 0x0 5x5 [box 0x0 9x9] box 1x1 2x2]",
         "clip 0x0 5x5 mode 3; push; clip 0x0 5x5 mode 0; box 0x0 9x9 r0; unclip; pop; box 1x1 2x2 r0"},
        {"[clip [move 0x0 line 5x0 5x5] intersect]", "begin; move 0x0; sline 5x0 5x5; clip path mode 1"},
        // transforms, their brush targets and scoping blocks
        {"[rotate 30 rotate 30 5x5 rotate 'fill-pen 10 rotate 45 [box 0x0 1x1]]",
         "rotate 30 0x0; rotate 30 5x5; fill:rotate 10 0x0; push; rotate 45 0x0; box 0x0 1x1 r0; pop"},
        {"[scale 2 50% scale 'pen 1 2 3x3 translate 4x5 skew 10 skew 10 20 1x1]",
         "scale 2 0.5 0x0; pen:scale 1 2 3x3; translate 4x5; skew 10 0 0x0; skew 10 20 1x1"},
        {"[transform 30 2 2 5x5 transform 1x1 30 2 2 5x5 matrix [1 0 0 1 2 3] reset-matrix invert-matrix 'pen]",
         "transform 0x0 30 2 2 5x5; transform 1x1 30 2 2 5x5; matrix 1 0 0 1 2 3; reset; pen:invert"},
        {"[push [line-width 2 box 0x0 1x1] box 0x0 2x2]", "push; width 2; box 0x0 1x1 r0; pop; box 0x0 2x2 r0"},
        // shapes: relative forms, whole groups only, nested blocks
        {"[shape [move 0x0 'line 10x0 0x10]]", "begin; move 0x0; rel sline 10x0 0x10; end draw"},
        {"[shape [hline 5 'vline 3 arc 9x9 4 4 0 large sweep close]]",
         "begin; hline 5; rel vline 3; sarc 9x9 4 4 0 sweep large; close; end draw"},
        {"[shape [curve 1x1 2x2 3x3 4x4 curv 1x1 2x2 3x3 qcurve 1x1 2x2 qcurv 1x1 [line 2x2]]]",
         "begin; scurve 1x1 2x2 3x3; curv 1x1 2x2; qcurve 1x1 2x2; qcurv 1x1; sline 2x2; end draw"},
        {"[BOX 0x0 1x1 Pen Blue]", "box 0x0 1x1 r0; pen 0.0.255.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(calls(c.src), c.log) << c.src;
}

TEST_F(DrawDialect, SetWordsPointAtTheNextCommand) {
    kiv_value b = block_of_text("[a: box 0x0 1x1 shape [s: line 2x2]]");
    recorder rec;
    draw::parse_block(rec, &b);
    EXPECT_EQ(mold_of("a"), "[box 0x0 1x1 shape [s: line 2x2]]");
    EXPECT_EQ(int_run("index? a"), 2);
    EXPECT_EQ(mold_of("s"), "[line 2x2]");
}

TEST_F(DrawDialect, ErrorsArePositioned) {
    const uint32_t INV = err::script::draw_invalid;
    struct Case {
        const char* src;
        uint32_t at;  // index (0-based) of the block cell the error points at
        const char* nested = nullptr;  // error raised inside an inner block
    } cases[] = {
        {"[box 0x0]", 2},                   // at the tail
        {"[box 0x0 1x1 \"r\"]", 3},         // a string is no radius
        {"[line 0x0]", 2},
        {"[polygon 0x0 1x1]", 3},
        {"[triangle 0x0 1x1 foo]", 3},
        {"[wibble]", 0},
        {"[box 0x0 1x1 #a]", 3},
        {"[\"text\"]", 0},
        {"[line-width]", 1},
        {"[line-pattern 5 2 1.5]", 3},  // only integers are dash lengths
        {"[line-width \"x\"]", 1},
        {"[line-join 3]", 1},
        {"[pen]", 1},
        {"[pen 42]", 1},
        {"[pen pic]", 1},                   // a word must hold a colour
        {"[pen linear blue]", 3},           // two stops at least
        {"[pen linear blue green 0x0]", 5}, // a start point needs its end point
        {"[pen radial blue green 0x0]", 5}, // a centre needs its radius
        {"[pen linear 0x0 1 2 blue]", 6},
        {"[pen linear 0x0 1 blue green]", 4},
        {"[pen linear 0x0 1 2 blue green 0.5 0.7]", 8},  // a stop without its colour
        {"[pen pattern 8x8]", 3},
        {"[pen bitmap 42]", 2},
        {"[circle 0x0]", 2},
        {"[arc 0x0 1x1 0]", 4},
        {"[image 5x5]", 1},
        {"[image pic]", 1},
        {"[pen bitmap pic]", 2},
        {"[text 0x0 foo]", 2},
        {"[font 3]", 1},
        {"[anti-alias 1]", 1},
        {"[shadow]", 1},
        {"[shadow 1x1 2 3 pic]", 4},
        {"[clip 0x0]", 2},
        {"[clip 5]", 1},
        {"[shape 5]", 1},
        {"[rotate 'foo 10]", 1},
        {"[rotate]", 1},
        {"[scale 2]", 2},
        {"[matrix [1 2 3 4 5]]", 1},
        {"[matrix [1 2 3 4 5 x]]", 1},
        {"[push 3]", 1},
        {"[curve 0x0 1x1]", 3},
        {"[box 0x0 1x1 [circle 0x0]]", 2, "inner"},
        {"[shape [move]]", 1, "inner"},
        {"[shape [foo 1x1]]", 0, "inner"},
        {"[shape [line]]", 1, "inner"},
        {"[shape [3]]", 0, "inner"},
    };
    for (const Case& c : cases) {
        auto [id, at] = failure(c.src);
        EXPECT_EQ(id, INV) << c.src;
        EXPECT_EQ(at, c.at) << c.src;
    }
}

TEST_F(DrawDialect, WhatWasDrawnBeforeAnErrorStays) {
    std::string drawn;
    failure("[box 0x0 1x1 line-width 2 wibble box 2x2 3x3]", &drawn);
    EXPECT_EQ(drawn, "box 0x0 1x1 r0; width 2");
    // A failing scoped block still restores the state it saved.
    failure("[push [clip 0x0 1x1 [oops]]]", &drawn);
    EXPECT_EQ(drawn, "push; push; clip 0x0 1x1 mode 0; unclip; pop; pop");
}

TEST_F(DrawDialect, ABlockHoldingItselfIsRefused) {
    kiv_value b = block_of_text("b: [box 0x0 1x1] append/only b b b");
    recorder rec;
    StackTest::SetUp();
    stack::mark_try(nullptr);
    kiv_value e = raised([&] { draw::parse_block(rec, &b); });
    StackTest::SetUp();
    EXPECT_EQ(error::id_of(&e), uint32_t(err::script::draw_infinite));
    EXPECT_EQ(rec.log, "box 0x0 1x1 r0");
}

TEST_F(DrawDialect, SilentAndCaughtDrawingsEndQuietly) {
    kiv_value bad = block_of_text("[box 0x0 1x1 wibble]");
    kiv_value* base = stack::top;
    for (int mode = 0; mode < 2; mode++) {
        recorder rec;
        draw::run(rec, &bad, mode == 0, mode == 1);
        EXPECT_EQ(rec.log, "box 0x0 1x1 r0");
        EXPECT_EQ(stack::top, base);
        EXPECT_EQ(sys.pending_exit, uint32_t(LEVEL_NONE));
    }
    recorder rec;
    StackTest::SetUp();
    stack::mark_try(nullptr);
    kiv_value e = raised([&] { draw::run(rec, &bad, false, false); });
    StackTest::SetUp();
    EXPECT_EQ(error::id_of(&e), uint32_t(err::script::draw_invalid));
}

}  // namespace
