// Rich-text style blocks read from arbitrary text: the face laid out with
// them, every metric asked at positions in and out of the text, and the
// face drawn. A bad style must end as a draw error, never as a fault.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

namespace {
const fuzz::script* code = nullptr;
}

// Fontconfig keeps the fonts it has matched for the life of the process;
// the leak check at exit would report that cache, not a fault of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    // The first string of the input, when it leads, is the face's text; the
    // first pair after it sets the box's size.
    code = new fuzz::script(R"(
        rose: 255.0.0
        styles: either block? styles: try [transcode data] [styles] [[]]
        txt: either string? first styles [take styles] ["Hé😀llo wörld^-x^/a second line"]
        box: either pair? first styles [take styles] [120x40]
        f: make face! [
            type: 'rich-text size: box text: txt data: styles tabs: 24 line-spacing: none handles: none
            font: make font! [size: 9 style: [bold underline]] para: make para! [wrap?: true align: 'center]
        ]
        m: :system/view/platform/text-box-metrics
        n: length? txt
        foreach p reduce [-5 0 1 n n + 1 n + 7] [attempt [m f p 0] attempt [m f p 6] attempt [m f p 2]]
        foreach p [-10x-10 0x0 5x5 60x20 119x39 1000x1000] [attempt [m f p 1] attempt [m f p 5]]
        attempt [m f none 3] attempt [m f none 4]
        attempt [draw 32x32 compose [text 0x0 (f)]]
    )");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::define_bytes("data", data, size);
    code->run();
    return 0;
}
