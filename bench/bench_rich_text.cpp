// The rich-text dialect on a spec of 2,000 styled runs (bold, italic,
// colours, fonts, style paths, nested blocks), in ms, next to a PARSE pass
// that only skims the same spec by type: the dialect's own cost is the
// difference. Each figure is the best of three runs.
#include <cstdio>
#include <string>

#include "bench/best_of.h"
#include "runtime/boot.h"
#include "runtime/runtime.h"
#include "runtime/system.h"

using namespace kiv;

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    boot::evaluate_source(R"(
        red: 255.0.0
        runs: [
            [b "bold " /b] [i "italic " /i] [red "red "] [f 12 "sized " /f]
            [b/i ["both "]] [u ["under "]] [bg 1.2.3 "back " /bg] ["plain "]
        ]
        spec: make block! 8000
        loop 250 [foreach r runs [append spec r]]
    )");
    double rtd = bench::best_ms("rtd-layout/only spec");
    double skim = bench::best_ms("parse spec [some [word! | string! | refinement! | path! | block! | tuple! | integer!]]");
    std::printf("rtd-layout/only, 2000 runs:  %8.2f ms\n", rtd);
    std::printf("parse skim of the same spec: %8.2f ms\n", skim);
    return 0;
}
