// Draw blocks into an 800x600 image, in ms (best of three runs): 10,000
// filled and stroked boxes, then 10,000 text runs. bench_draw.py draws the
// same with Python's cairo binding and is printed alongside.
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

constexpr int W = 800, H = 600, COUNT = 10000;

// Both sides place their shapes by the same small linear congruential walk.
struct walk {
    uint32_t x = 12345;
    int next() { return int((x = x * 1103515245u + 12345u, (x >> 8) & 0xFFFF)); }
};

std::string boxes_block() {
    std::string s = "[pen 0.0.0 fill-pen 200.40.40 line-width 1";
    walk r;
    for (int i = 0; i < COUNT; i++) {
        int a = r.next() % (W - 40), b = r.next() % (H - 40), w = r.next() % 40, h = r.next() % 40;
        s += " box " + std::to_string(a) + "x" + std::to_string(b) + " " + std::to_string(a + w) + "x" + std::to_string(b + h);
    }
    return s + "]";
}

// Short words; `f` is the font the runs are drawn in.
std::string runs_block() {
    std::string s = "[pen 0.0.0 font f";
    walk r;
    for (int i = 0; i < COUNT; i++) {
        int a = r.next() % (W - 60), b = r.next() % (H - 20);
        s += " text " + std::to_string(a) + "x" + std::to_string(b) + " \"run " + std::to_string(i) + "\"";
    }
    return s + "]";
}

// The best of three drawings of the block on a white image, in ms.
double best_ms(const std::string& source) {
    kiv_value code = boot::load_source(source);
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
    return best * 1000;
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    std::printf("Kiv draw: %d boxes into %dx%d: %.1f ms (best of 3)\n", COUNT, W, H, best_ms(boxes_block()));
    boot::evaluate_source("f: make font! [name: \"DejaVu Sans\" size: 10]");
    std::printf("Kiv draw: %d text runs into %dx%d: %.1f ms (best of 3)\n", COUNT, W, H, best_ms(runs_block()));
    std::fflush(stdout);
    // The system interpreter: the cairo binding is a Debian package.
    std::string twin = std::string("/usr/bin/python3 ") + KIV_SOURCE_DIR + "/bench/bench_draw.py";
    return std::system(twin.c_str()) == 0 ? 0 : 1;
}
