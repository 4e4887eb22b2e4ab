// Images in the cairo draw context: the projective mapping onto four
// corners checked against a homography solved here on its own, and the
// drawing copy kept with an image until its pixels change.
#include <cairo.h>

#include <array>
#include <cmath>
#include <vector>

#include "runtime/datatypes/image.h"
#include "tests/unit/natives_fixture.h"
#include "view/gtk/draw_cairo.h"

using namespace kiv;
using namespace kiv::test;

namespace {

constexpr int W = 120, H = 120, S = 40, CELL = 10;

uint32_t cell_colour(int cx, int cy) { return 0xFF000000u | uint32_t(cx * 60 + 20) << 16 | uint32_t(cy * 60 + 20) << 8 | 128; }

// The source picture: 4x4 cells of 10x10 pixels, each of its own colour.
kiv_value* checker() {
    kiv_value* img = image::push(S, S);
    uint32_t* px = image::lock(img, true);
    for (int y = 0; y < S; y++)
        for (int x = 0; x < S; x++) px[y * S + x] = cell_colour(x / CELL, y / CELL);
    image::unlock(img);
    return img;
}

// Solves the 3x3 matrix taking the four destination corners to the source
// rectangle's corners (h22 = 1), by Gaussian elimination.
std::array<double, 9> solve(const draw::point* q, double w, double h) {
    double src[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    double a[8][9] = {};
    for (int i = 0; i < 4; i++) {
        double x = q[i].x, y = q[i].y, u = src[i][0], v = src[i][1];
        double r1[9] = {x, y, 1, 0, 0, 0, -u * x, -u * y, u};
        double r2[9] = {0, 0, 0, x, y, 1, -v * x, -v * y, v};
        for (int k = 0; k < 9; k++) a[2 * i][k] = r1[k], a[2 * i + 1][k] = r2[k];
    }
    for (int c = 0; c < 8; c++) {
        int p = c;
        for (int r = c + 1; r < 8; r++)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        for (int k = 0; k < 9; k++) std::swap(a[c][k], a[p][k]);
        for (int r = 0; r < 8; r++) {
            if (r == c) continue;
            double f = a[r][c] / a[c][c];
            for (int k = 0; k < 9; k++) a[r][k] -= f * a[c][k];
        }
    }
    std::array<double, 9> m{};
    for (int i = 0; i < 8; i++) m[size_t(i)] = a[i][8] / a[i][i];
    m[8] = 1;
    return m;
}

class DrawImage : public NativesTest {};

TEST_F(DrawImage, CornersMapThroughTheProjectiveTransform) {
    kiv_value* img = checker();
    const draw::point quads[][4] = {
        {{10, 10}, {110, 10}, {110, 110}, {10, 110}},   // a plain stretch
        {{30, 5}, {90, 5}, {115, 115}, {5, 115}},       // a trapezoid
        {{5, 20}, {100, 5}, {115, 90}, {20, 110}},      // every corner its own way
    };
    for (const auto& q : quads) {
        std::vector<uint32_t> px(W * H, 0);
        cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(px.data()),
                                                                 CAIRO_FORMAT_ARGB32, W, H, W * 4);
        cairo_t* cr = cairo_create(s);
        {
            draw::cairo_context ctx(cr);
            ctx.image(img, q, 4, nullptr);
        }
        cairo_destroy(cr);
        cairo_surface_destroy(s);
        auto m = solve(q, S, S);
        int checked = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                double dx = x + 0.5, dy = y + 0.5, w = m[6] * dx + m[7] * dy + m[8];
                double u = (m[0] * dx + m[1] * dy + m[2]) / w, v = (m[3] * dx + m[4] * dy + m[5]) / w;
                double fu = std::fmod(u, CELL), fv = std::fmod(v, CELL);
                // Away from the picture's edges and from the cells' borders,
                // the pixel is its cell's colour; outside nothing is drawn.
                if (u < -1.5 || v < -1.5 || u > S + 1.5 || v > S + 1.5) {
                    EXPECT_EQ(px[size_t(y * W + x)], 0u) << x << "x" << y;
                    continue;
                }
                if (u < 1.5 || v < 1.5 || u > S - 1.5 || v > S - 1.5 || fu < 1.5 || fu > CELL - 1.5 || fv < 1.5 ||
                    fv > CELL - 1.5)
                    continue;
                EXPECT_EQ(px[size_t(y * W + x)], cell_colour(int(u) / CELL, int(v) / CELL)) << x << "x" << y;
                checked++;
            }
        EXPECT_GT(checked, 1000);
    }
}

TEST_F(DrawImage, TheDrawingCopyLastsUntilThePixelsChange) {
    kiv_value* img = checker();
    cairo_surface_t* a = draw::image_surface(img);
    cairo_surface_t* b = draw::image_surface(img);
    EXPECT_EQ(a, b);
    uint32_t* px = image::lock(img, true);
    px[0] = 0x80FF0000;  // half-transparent red: premultiplied in the copy
    image::unlock(img);
    cairo_surface_t* c = draw::image_surface(img);
    EXPECT_NE(c, a);
    cairo_surface_flush(c);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(c))[0], 0x80800000u);
    cairo_surface_destroy(a);
    cairo_surface_destroy(b);
    cairo_surface_destroy(c);
}

}  // namespace
