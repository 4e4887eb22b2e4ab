// The draw context on cairo: blocks drawn into an image surface, probed
// pixel by pixel.
#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/unit/lexed_source.h"
#include "tests/unit/natives_fixture.h"
#include "view/gtk/draw_cairo.h"

using namespace kiv;
using namespace kiv::test;

// Fontconfig keeps the fonts it has matched for the life of the process;
// a sanitizer build's leak check at exit would report that cache.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

constexpr int W = 100, H = 100;

class DrawCairo : public NativesTest {
  protected:
    // The block drawn on a clear 100x100 image; the pixels in straight ARGB.
    std::vector<uint32_t> drawn(const std::string& src) {
        kiv_value b = run(lexed("red: 255.0.0 blue: 0.0.255 green: 0.255.0 " + src));
        std::vector<uint32_t> px(W * H, 0);
        cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(px.data()),
                                                                 CAIRO_FORMAT_ARGB32, W, H, W * 4);
        cairo_t* cr = cairo_create(s);
        {
            draw::cairo_context ctx(cr);
            draw::parse_block(ctx, &b);
        }
        cairo_destroy(cr);
        cairo_surface_flush(s);
        cairo_surface_destroy(s);
        draw::unpremultiply(px.data(), px.size());
        return px;
    }
};

std::string hex(uint32_t v) {
    char buf[16];
    snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}
bool near(uint32_t a, uint32_t b, int tol) {
    for (int sh = 0; sh < 32; sh += 8)
        if (std::abs(int((a >> sh) & 255) - int((b >> sh) & 255)) > tol) return false;
    return true;
}

TEST_F(DrawCairo, PixelProbes) {
    const uint32_t RED = 0xFFFF0000, BLUE = 0xFF0000FF, GREEN = 0xFF00FF00, BLACK = 0xFF000000, NONE = 0;
    struct Probe {
        int x, y;
        uint32_t argb;
        int tol = 0;
    };
    struct Case {
        const char* src;
        std::vector<Probe> probes;
    } cases[] = {
        // default pen is black, width 1, no fill
        {"[anti-alias off line-width 2 box 10x10 50x50]", {{10, 30, BLACK}, {9, 30, BLACK}, {30, 30, NONE}, {12, 30, NONE}}},
        {"[anti-alias off fill-pen red pen off box 10x10 50x50]", {{30, 30, RED}, {10, 9, NONE}, {9, 30, NONE}, {50, 30, NONE}}},
        {"[anti-alias off fill-pen red pen blue line-width 4 box 10x10 50x50]", {{30, 30, RED}, {10, 30, BLUE}, {8, 30, BLUE}, {7, 30, NONE}}},
        {"[fill-pen 255.0.0.128 pen off box 0x0 50x50]", {{25, 25, 0x7FFF0000, 1}}},
        {"[anti-alias off pen red line-width 2 line 0x20 99x20]", {{50, 20, RED}, {50, 19, RED}, {50, 22, NONE}}},
        {"[fill-pen red pen off circle 50x50 20]", {{50, 50, RED}, {50, 32, RED}, {50, 28, NONE}, {66, 66, NONE}}},
        {"[fill-pen red pen off circle 50x50 40 10]", {{85, 50, RED}, {50, 65, NONE}}},
        {"[fill-pen red pen off ellipse 10x40 80x20]", {{15, 50, RED}, {50, 35, NONE}}},
        {"[fill-pen red pen off triangle 0x0 99x0 0x99]", {{10, 10, RED}, {90, 90, NONE}}},
        {"[fill-pen red pen off arc 50x50 40x40 0 90 closed]", {{60, 60, RED}, {40, 40, NONE}}},
        {"[fill-pen red pen off box 10x10 90x90 30]", {{50, 50, RED}, {12, 12, NONE}, {50, 11, RED}}},
        // gradients fitted to the shape and placed in drawing coordinates
        {"[pen off fill-pen linear blue green box 0x0 100x50]", {{0, 25, BLUE, 3}, {99, 25, GREEN, 3}, {50, 25, 0xFF007F80, 3}}},
        {"[pen off fill-pen linear blue green box 50x0 100x50]", {{50, 25, BLUE, 3}, {99, 25, GREEN, 3}}},
        {"[pen off fill-pen linear blue green 0x0 100x0 box 50x0 100x50]", {{51, 25, 0xFF007F80, 4}}},
        {"[pen off fill-pen linear red blue 0.5 green box 0x0 100x50]", {{50, 25, BLUE, 4}}},
        {"[pen off fill-pen radial red blue 50x50 50 box 0x0 100x100]", {{50, 50, RED, 5}, {99, 50, BLUE, 8}}},
        {"[pen off fill-pen radial red blue box 0x0 100x100]", {{50, 50, RED, 5}, {0, 50, BLUE, 8}}},
        {"[pen off fill-pen linear red blue 0x0 10x0 repeat box 0x0 100x10]", {{1, 5, RED, 40}, {21, 5, RED, 40}}},
        // dashes count in pen widths
        {"[anti-alias off pen red line-width 2 line-pattern 5 5 line 0x10 99x10]",
         {{5, 10, RED}, {15, 10, NONE}, {25, 10, RED}}},
        // clips, scoped and not
        {"[clip 0x0 50x50 fill-pen red pen off box 0x0 100x100]", {{25, 25, RED}, {75, 25, NONE}}},
        {"[clip 0x0 50x50 [box 0x0 1x1] fill-pen red pen off box 0x0 100x100]", {{75, 75, RED}}},
        {"[push [clip 0x0 50x50] fill-pen red pen off box 0x0 100x100]", {{75, 75, RED}}},
        {"[clip 0x0 50x50 clip 25x25 100x100 fill-pen red pen off box 0x0 100x100]", {{40, 40, RED}, {10, 10, NONE}, {60, 60, NONE}}},
        {"[clip [move 0x0 line 100x0 0x100] fill-pen red pen off box 0x0 100x100]", {{10, 10, RED}, {90, 90, NONE}}},
        // transforms
        {"[translate 50x50 fill-pen red pen off box 0x0 10x10]", {{55, 55, RED}, {5, 5, NONE}}},
        {"[translate 50x50 [pen off fill-pen blue box 0x0 10x10] pen off fill-pen red box 0x0 10x10]", {{55, 55, BLUE}, {5, 5, RED}}},
        {"[scale 2 2 fill-pen red pen off box 0x0 10x10]", {{15, 15, RED}, {25, 25, NONE}}},
        {"[rotate 90 50x50 fill-pen red pen off box 0x0 20x20]", {{90, 10, RED}, {10, 10, NONE}}},
        {"[matrix [1 0 0 1 30 0] fill-pen red pen off box 0x0 10x10]", {{35, 5, RED}, {5, 5, NONE}}},
        {"[translate 50x0 reset-matrix fill-pen red pen off box 0x0 10x10]", {{5, 5, RED}}},
        {"[pen off fill-pen linear blue green translate 'fill-pen 50x0 box 0x0 100x10]", {{0, 5, BLUE, 3}, {49, 5, BLUE, 3}, {75, 5, 0xFF0040BF, 3}}},
        // push restores brushes and widths
        {"[fill-pen red pen off push [fill-pen blue] box 0x0 10x10]", {{5, 5, RED}}},
        // shadows: offset, spread and blur, under boxes and ellipses only
        {"[shadow 10x10 fill-pen red pen off box 10x10 30x30]", {{20, 20, RED}, {35, 35, BLACK}, {45, 45, NONE}}},
        {"[shadow 10x10 0 5 blue fill-pen red pen off box 10x10 30x30]", {{44, 44, BLUE, 1}, {47, 47, NONE}}},
        // a blurred edge fades over the blur's reach, half way at the edge
        {"[shadow 0x40 8 fill-pen red pen off box 10x10 30x30]",
         {{20, 60, BLACK, 1}, {20, 50, 0x80000000, 0x20}, {20, 41, NONE}, {20, 20, RED}}},
        {"[shadow 0x50 fill-pen red pen off circle 20x20 10 line 0x0 0x1]", {{20, 70, BLACK}}},
        {"[shadow 0x50 shadow off fill-pen red pen off circle 20x20 10]", {{20, 70, NONE}}},
        {"[shadow 0x50 fill-pen red pen off triangle 10x10 30x10 10x30]", {{12, 62, NONE}}},
        // shapes
        {"[fill-pen red pen off shape [move 0x0 'line 100x0 0x100]]", {{90, 50, RED}, {10, 50, NONE}}},
        {"[fill-pen red pen off shape [move 10x10 hline 90 vline 90 hline 10 close]]", {{50, 50, RED}, {5, 5, NONE}}},
        {"[fill-pen red pen off shape [move 0x50 arc 100x50 50 50 0 sweep]]", {{50, 80, NONE}, {50, 20, RED}}},
        {"[fill-pen red pen off shape [move 0x50 arc 100x50 50 50 0]]", {{50, 80, RED}, {50, 20, NONE}}},
        {"[fill-pen red pen off shape [move 0x0 qcurve 100x0 100x100]]", {{60, 30, RED}, {90, 30, NONE}, {30, 70, NONE}}},
    };
    for (const Case& c : cases) {
        auto px = drawn(c.src);
        for (const Probe& p : c.probes) {
            uint32_t got = px[p.y * W + p.x];
            EXPECT_TRUE(near(got, p.argb, p.tol)) << c.src << " at " << p.x << "x" << p.y << ": " << hex(got)
                                                  << " not " << hex(p.argb);
        }
    }
}

// A blur wider than the mask is worked at a smaller scale: the shadow it
// casts must match the full-scale one just below that width, and a blur of
// thousands of pixels must still end (quickly) with a faint shadow.
TEST_F(DrawCairo, WideBlursStayCloseToTheFullScaleOnes) {
    auto full = drawn("[shadow 50x0 32 fill-pen red pen off box 0x0 50x100]");
    auto scaled = drawn("[shadow 50x0 33 fill-pen red pen off box 0x0 50x100]");
    for (int x = 50; x < W; x += 7)
        for (int y = 0; y < H; y += 9)
            EXPECT_TRUE(near(full[y * W + x], scaled[y * W + x], 12))
                << x << "x" << y << ": " << hex(full[y * W + x]) << " then " << hex(scaled[y * W + x]);
    auto faint = drawn("[shadow 50x0 5000 fill-pen red pen off box 0x0 50x100]");
    EXPECT_LT(faint[50 * W + 75] >> 24, 0x10u);
}

TEST_F(DrawCairo, TextPaintsWithThePenWhereItIsPlaced) {
    auto px = drawn("[pen red text 20x20 \"HHHH\"]");
    int inside = 0, outside = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            if (!px[y * W + x]) continue;
            EXPECT_EQ(px[y * W + x] & 0x00FFFF, 0u) << "not red at " << x << "x" << y;
            (x >= 20 && x < 70 && y >= 20 && y < 40 ? inside : outside)++;
        }
    EXPECT_GT(inside, 30);
    EXPECT_EQ(outside, 0);
    auto none = drawn("[pen off text 20x20 \"HHHH\"]");
    EXPECT_EQ(std::count(none.begin(), none.end(), 0u), W * H);
}

TEST(DrawPixels, PremultiplyRoundTrips) {
    uint32_t px[] = {0xFFFF8000, 0x80FF8000, 0x00123456, 0x01FFFFFF, 0x7F000000};
    uint32_t want[] = {0xFFFF8000, 0x80FF8000, 0x00000000, 0x01FFFFFF, 0x7F000000};
    draw::premultiply(px, 5);
    EXPECT_EQ(px[1], 0x80804000u);
    draw::unpremultiply(px, 5);
    for (int i = 0; i < 5; i++) EXPECT_EQ(px[i], want[i]) << i;
}

}  // namespace
