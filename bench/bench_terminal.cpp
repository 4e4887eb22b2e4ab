// The console's terminal without a display (the tests' host: recording
// backend, real text layout): a page of 23 entries measured by `paint/dry`
// and painted by `paint` (draw commands going to a backend that records
// them), scrolling a page back and forth, and the output of 2,000 one-line
// prints. In ms, the best of three runs.
#include <cstdio>
#include <string>

#include "bench/best_of.h"
#include "runtime/boot.h"
#include "runtime/runtime.h"
#include "runtime/system.h"

// The backend linked in: its routines replace the stand-ins at once.
extern "C" void kiv_backend_module_gtk();

using namespace kiv;

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    kiv_backend_module_gtk();
    boot::evaluate_source(std::string("do to-kiv-file \"") + KIV_SOURCE_DIR + "/tests/kiv/support/console-host.kiv\"" + R"(
        c: console-host/size 752x400 t: c/terminal
        t/color?: true
        repeat i 200 [t/vprint rejoin ["line " i ": print [1 + 2 * 3 %file {text}]"] true]
    )");
    double dry = bench::best_ms("loop 100 [t/paint/dry]");
    double paint = bench::best_ms("loop 100 [t/paint]");
    double scroll = bench::best_ms("loop 50 [t/scroll-lines 23 t/scroll-lines -23]");
    double print = bench::best_ms("loop 2000 [t/vprint \"one more line of output\" true]");
    std::printf("paint/dry of a 23-row page, x100:     %8.2f ms\n", dry);
    std::printf("paint with colouring, x100:           %8.2f ms\n", paint);
    std::printf("scroll a page back and forth, x50:    %8.2f ms\n", scroll);
    std::printf("vprint of 2000 lines:                 %8.2f ms\n", print);
    return 0;
}
