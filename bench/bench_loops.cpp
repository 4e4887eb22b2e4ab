// Loops of ten million iterations: a counting loop in Kiv and the looping
// natives with empty or trivial bodies. Each figure is the whole loop's time.
#include <chrono>
#include <cstdio>

#include "runtime/evaluator/interpreter.h"
#include "runtime/boot.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "tests/unit/natives_setup.h"

namespace {

using namespace kiv;

double seconds_of(const char* text) {
    kiv_value code = test::read_code(text);
    stack::mark_native(nullptr);
    auto start = std::chrono::steady_clock::now();
    interpreter::eval(&code, false);
    auto end = std::chrono::steady_clock::now();
    stack::unwind_drop();
    return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    test::evaluate_text("n: 0 blk: append/dup copy [] 1 1000000");
    const char* loops[][2] = {
        {"loop 10M [n: n + 1]", "n: 0 loop 10000000 [n: n + 1]"},
        {"repeat i 10M []", "repeat i 10000000 []"},
        {"while, 10M tests", "n: 0 while [n < 10000000] [n: n + 1]"},
        {"foreach x (1M block) [], 10 times", "loop 10 [foreach x blk []]"},
    };
    std::printf("ten million iterations each: seconds, nanoseconds per iteration\n");
    for (auto& l : loops) {
        double s = seconds_of(l[1]);
        std::printf("  %-36s %7.3f s %7.1f ns\n", l[0], s, s * 1e9 / 1e7);
    }
    return 0;
}
