// The rich-text dialect on a spec of 2,000 styled runs (bold, italic,
// colours, fonts, style paths, nested blocks), in ms, next to a PARSE pass
// that only skims the same spec by type: the dialect's own cost is the
// difference. Each figure is the best of three runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "runtime/boot.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace {

using namespace kiv;

void evaluate(const std::string& code_text) {
    kiv_value code{TYPE_UNSET, 0, 0, 0};
    lexer::scan(&code, reinterpret_cast<const uint8_t*>(code_text.data()), uint32_t(code_text.size()), false, false,
                false, nullptr, nullptr, nullptr, nullptr);
    stack::mark_native(nullptr);
    interpreter::eval(&code, false);
    stack::unwind_drop();
}

double best_ms(const std::string& code) {
    double best = 1e30;
    for (int run = 0; run < 3; run++) {
        auto start = std::chrono::steady_clock::now();
        evaluate(code);
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    evaluate(R"(
        red: 255.0.0
        runs: [
            [b "bold " /b] [i "italic " /i] [red "red "] [f 12 "sized " /f]
            [b/i ["both "]] [u ["under "]] [bg 1.2.3 "back " /bg] ["plain "]
        ]
        spec: make block! 8000
        loop 250 [foreach r runs [append spec r]]
    )");
    double rtd = best_ms("rtd-layout/only spec");
    double skim = best_ms("parse spec [some [word! | string! | refinement! | path! | block! | tuple! | integer!]]");
    std::printf("rtd-layout/only, 2000 runs:  %8.2f ms\n", rtd);
    std::printf("parse skim of the same spec: %8.2f ms\n", skim);
    return 0;
}
