// 10,000 text runs drawn from one draw block into an 800x600 image, in ms
// (best of three runs). bench_text.py draws the same runs with Python's
// cairo binding and is printed alongside.
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/runtime.h"
#include "runtime/system.h"
#include "view/gtk/draw_cairo.h"

namespace {

using namespace kiv;

constexpr int W = 800, H = 600, RUNS = 10000;

// The runs both sides draw: short words at places from a small linear
// congruential walk over the image.
std::string runs_block() {
    std::string s = "[pen 0.0.0 font f";
    uint32_t x = 12345;
    auto next = [&] { return x = x * 1103515245u + 12345u, (x >> 8) & 0xFFFF; };
    for (int i = 0; i < RUNS; i++) {
        int a = int(next() % (W - 60)), b = int(next() % (H - 20));
        s += " text " + std::to_string(a) + "x" + std::to_string(b) + " \"run " + std::to_string(i) + "\"";
    }
    return s + "]";
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    boot::evaluate_source("f: make font! [name: \"DejaVu Sans\" size: 10]");
    kiv_value code = boot::load_source(runs_block());
    kiv_value blk = block::cells(&code)[0];
    std::vector<uint32_t> px(W * H);
    double best = 1e30;
    for (int run = 0; run < 3; run++) {
        std::fill(px.begin(), px.end(), 0xFFFFFFFF);
        cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(px.data()),
                                                                 CAIRO_FORMAT_ARGB32, W, H, W * 4);
        cairo_t* cr = cairo_create(s);
        auto start = std::chrono::steady_clock::now();
        {
            draw::cairo_context ctx(cr);
            draw::parse_block(ctx, &blk);
        }
        cairo_surface_flush(s);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }
    std::printf("Kiv draw: %d text runs into %dx%d: %.1f ms (best of 3)\n", RUNS, W, H, best * 1000);
    std::fflush(stdout);
    // The system interpreter: the cairo binding is a Debian package.
    std::string twin = std::string("/usr/bin/python3 ") + KIV_SOURCE_DIR + "/bench/bench_text.py";
    return std::system(twin.c_str()) == 0 ? 0 : 1;
}
