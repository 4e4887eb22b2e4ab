// Text boxes laid out by pango without a display: character positions to
// byte ranges, clamping, caret and hit metrics, lines, sizes, alignment and
// the painting of backdrops.
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <cstring>
#include <string>
#include <vector>

#include "view/gtk/text_box.h"

using namespace kiv;
using namespace kiv::text_box;


namespace {

fonts::look sans(double points = 12) {
    fonts::look l;
    l.family = "DejaVu Sans";
    l.size = points;
    return l;
}

box make(const char* text, fonts::para_look p = {}, double w = 0, double h = 0, fonts::look f = sans()) {
    return box(text, std::strlen(text), f, p, w, h);
}

struct span {
    PangoAttrType type;
    unsigned start, end;
    bool operator==(const span&) const = default;
};

// The attributes the box gave its layout, by kind and byte range.
std::vector<span> spans(box& b) {
    b.lines();  // brings the attributes to the layout
    std::vector<span> out;
    PangoAttrList* list = pango_layout_get_attributes(b.layout());
    if (!list) return out;
    GSList* all = pango_attr_list_get_attributes(list);
    for (GSList* l = all; l; l = l->next) {
        auto* a = static_cast<PangoAttribute*>(l->data);
        out.push_back({a->klass->type, a->start_index, a->end_index});
        pango_attribute_destroy(a);
    }
    g_slist_free(all);
    return out;
}

}  // namespace

TEST(TextBox, RangesAreCharactersClampedToTheText) {
    // "a😀bc": the emoji is one character of four bytes (two UTF-16 units).
    const char* text = "a\xF0\x9F\x98\x80" "bc";
    struct Case {
        int32_t start, length;
        std::vector<span> want;
    } cases[] = {
        {2, 1, {{PANGO_ATTR_WEIGHT, 5, 6}}},     // "b", after the emoji
        {1, 1, {{PANGO_ATTR_WEIGHT, 1, 5}}},     // the emoji itself
        {0, 100, {{PANGO_ATTR_WEIGHT, 0, 7}}},   // cut at the end
        {-1, 2, {{PANGO_ATTR_WEIGHT, 0, 1}}},    // a range before the start is cut there
        {4, 3, {}},                              // starts at the end
        {1, -2, {}},                             // negative length
        {1, 0, {}},
    };
    for (const Case& c : cases) {
        box b = make(text);
        b.bold(c.start, c.length);
        EXPECT_EQ(spans(b), c.want) << c.start << "x" << c.length;
    }
}

TEST(TextBox, SettersAndTheirAttributes) {
    box b = make("0123456789");
    b.colour(0, 2, {255, 0, 0, 255});
    b.italic(2, 1);
    rgba blue{0, 0, 255, 255};
    b.underline(3, 1, &blue);
    b.strike(4, 1, nullptr);
    b.family(5, 1, "DejaVu Serif");
    b.size(6, 1, 12);
    std::vector<span> got = spans(b);
    std::vector<span> want = {
        {PANGO_ATTR_FOREGROUND, 0, 2}, {PANGO_ATTR_FOREGROUND_ALPHA, 0, 2}, {PANGO_ATTR_STYLE, 2, 3},
        {PANGO_ATTR_UNDERLINE, 3, 4}, {PANGO_ATTR_UNDERLINE_COLOR, 3, 4}, {PANGO_ATTR_STRIKETHROUGH, 4, 5},
        {PANGO_ATTR_FAMILY, 5, 6}, {PANGO_ATTR_ABSOLUTE_SIZE, 6, 7},
    };
    EXPECT_EQ(got, want);
    // 12 points are 16 pixels.
    GSList* all = pango_attr_list_get_attributes(pango_layout_get_attributes(b.layout()));
    for (GSList* l = all; l; l = l->next) {
        auto* a = static_cast<PangoAttribute*>(l->data);
        if (a->klass->type == PANGO_ATTR_ABSOLUTE_SIZE) EXPECT_EQ(reinterpret_cast<PangoAttrSize*>(a)->size, 16 * PANGO_SCALE);
        pango_attribute_destroy(a);
    }
    g_slist_free(all);
}

TEST(TextBox, CaretAndHit) {
    box b = make("Hello");
    double x, y, w, h, width, height;
    b.extent(&width, &height);
    b.caret(0, &x, &y, &w, &h);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_GT(w, 0);
    EXPECT_NEAR(h, height, 0.01);
    b.caret(5, &x, &y, &w, &h);  // after the last character
    EXPECT_NEAR(x, width, 0.01);
    b.caret(99, &x, &y, &w, &h);  // past the end: the end
    EXPECT_NEAR(x, width, 0.01);
    int32_t trailing = 0;
    EXPECT_EQ(b.hit(width - 1, 5, &trailing), 4);  // right half of the last character
    EXPECT_EQ(trailing, 1);
    EXPECT_EQ(b.hit(1, 5, &trailing), 0);
    EXPECT_EQ(trailing, 0);
    EXPECT_EQ(b.hit(width + 50, 5, &trailing), 4);  // beyond the line: its end
    EXPECT_EQ(trailing, 1);
}

TEST(TextBox, CharactersAboveTheBasicPlaneCountOnce) {
    box b = make("a\xF0\x9F\x98\x80" "bc");
    EXPECT_EQ(b.length(), 4);
    double x2, x3, y, w, h;
    b.caret(2, &x2, &y, &w, &h);  // before "b"
    b.caret(3, &x3, &y, &w, &h);  // before "c"
    int32_t trailing;
    EXPECT_EQ(b.hit((x2 + x3) / 2 - 1, 5, &trailing), 2);
    EXPECT_EQ(trailing, 0);
}

TEST(TextBox, LinesHeightsAndSizes) {
    fonts::para_look wrap;
    wrap.wrap = true;
    box one = make("Hello world");
    box wrapped = make("Hello world", wrap, 60, 100);
    EXPECT_EQ(one.lines(), 1);
    EXPECT_EQ(wrapped.lines(), 2);
    double w1, h1, w2, h2;
    one.extent(&w1, &h1);
    wrapped.extent(&w2, &h2);
    EXPECT_LT(w2, w1);
    EXPECT_NEAR(h2, 2 * h1, 0.5);
    // The line of a position past the text is the last one.
    EXPECT_NEAR(wrapped.line_height_at(999), h1, 0.5);
    EXPECT_NEAR(wrapped.line_height_at(0), h1, 0.5);
    // Trailing white space is not part of the width.
    box spaced = make("Hello world   ");
    double w3, h3;
    spaced.extent(&w3, &h3);
    EXPECT_NEAR(w3, w1, 0.01);
    // Without a para the text does not wrap, whatever the box.
    EXPECT_EQ(make("Hello world", {}, 40, 100).lines(), 1);
    // An exact line height.
    box tall = make("a\nb");
    tall.line_height(40);
    EXPECT_NEAR(tall.line_height_at(0), 40, 0.5);
}

TEST(TextBox, AlignmentInTheBox) {
    double width, height;
    make("Hello").extent(&width, &height);
    struct Case {
        fonts::h_align h;
        fonts::v_align v;
        double x, y;
    } cases[] = {
        {fonts::ALIGN_LEFT, fonts::ALIGN_TOP, 0, 0},
        {fonts::ALIGN_RIGHT, fonts::ALIGN_BOTTOM, 200 - width, 100 - height},
        {fonts::ALIGN_CENTER, fonts::ALIGN_MIDDLE, (200 - width) / 2, (100 - height) / 2},
    };
    for (const Case& c : cases) {
        fonts::para_look p;
        p.h = c.h, p.v = c.v;
        box b = make("Hello", p, 200, 100);
        double x, y, w, h;
        b.caret(0, &x, &y, &w, &h);
        EXPECT_NEAR(x, c.x, 0.01) << c.h;
        EXPECT_NEAR(y, c.y, 0.01) << c.v;
    }
}

TEST(TextBox, ParaBits) {
    struct Case {
        fonts::h_align h;
        fonts::v_align v;
        bool wrap;
        uint32_t bits;
    } cases[] = {
        {fonts::ALIGN_LEFT, fonts::ALIGN_TOP, false, 0},
        {fonts::ALIGN_CENTER, fonts::ALIGN_MIDDLE, true, 0x15},
        {fonts::ALIGN_RIGHT, fonts::ALIGN_BOTTOM, false, 0x0A},
    };
    for (const Case& c : cases) EXPECT_EQ(fonts::para_bits({c.h, c.v, c.wrap}), c.bits);
}

TEST(TextBox, FontDescriptions) {
    fonts::look l = sans(9);
    l.bold = l.italic = true;
    PangoFontDescription* d = fonts::describe(l);
    EXPECT_STREQ(pango_font_description_get_family(d), "DejaVu Sans");
    EXPECT_TRUE(pango_font_description_get_size_is_absolute(d));
    EXPECT_EQ(pango_font_description_get_size(d), 12 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_weight(d), PANGO_WEIGHT_BOLD);
    EXPECT_EQ(pango_font_description_get_style(d), PANGO_STYLE_ITALIC);
    pango_font_description_free(d);
    fonts::look u = sans();
    u.underline = u.strike = true;
    box b = make("ab", {}, 0, 0, u);
    std::vector<span> want = {{PANGO_ATTR_UNDERLINE, 0, PANGO_ATTR_INDEX_TO_TEXT_END},
                              {PANGO_ATTR_STRIKETHROUGH, 0, PANGO_ATTR_INDEX_TO_TEXT_END}};
    EXPECT_EQ(spans(b), want);
}

TEST(TextBox, BackdropsPaintBehindTheirCharacters) {
    constexpr int W = 120, H = 30;
    std::vector<uint32_t> px(W * H, 0);
    cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(px.data()),
                                                             CAIRO_FORMAT_ARGB32, W, H, W * 4);
    cairo_t* cr = cairo_create(s);
    box b = make("Hello world");
    b.backdrop(6, 5, {0, 0, 255, 255});  // "world"
    double x6, x11, y, w, h;
    b.caret(6, &x6, &y, &w, &h);
    b.caret(11, &x11, &y, &w, &h);
    b.paint(cr, 0, 0, {0, 0, 0, 255});
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    EXPECT_EQ(px[1 * W + int(x6) + 1], 0xFF0000FFu);    // top row of "w", above the glyphs
    EXPECT_EQ(px[1 * W + int(x6) - 2], 0u);            // before it: nothing behind "Hello "
    EXPECT_EQ(px[1 * W + int(x11) + 2], 0u);           // past the range
}
