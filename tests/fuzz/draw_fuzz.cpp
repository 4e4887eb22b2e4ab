// Draw blocks read from arbitrary text, drawn on a small cairo image: every
// malformed block must end as a draw error, never as a fault.
#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_runtime.h"
#include "view/gtk/draw_cairo.h"

using namespace kiv;

namespace {
const fuzz::script* code = nullptr;
}

// Fontconfig keeps the fonts it has matched for the life of the process;
// the leak check at exit would report that cache, not a fault of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    code = new fuzz::script(R"(
        blue: 0.0.255 pic: make image! 8x8 pic/(2x2): 255.0.0.128
        cmds: either block? cmds: try [transcode data] [cmds] [[]]
    )");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::define_bytes("data", data, size);
    code->run();
    kiv_value w = *word::load("cmds");
    kiv_value blk = *_context::get(&w);
    if (type_of(&blk) != TYPE_BLOCK) return 0;
    std::vector<uint32_t> px(32 * 32, 0);
    cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(px.data()),
                                                             CAIRO_FORMAT_ARGB32, 32, 32, 32 * 4);
    cairo_t* cr = cairo_create(s);
    {
        draw::cairo_context ctx(cr);
        fuzz::attempt([&] { draw::run(ctx, &blk, false, false); });
    }
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return 0;
}
