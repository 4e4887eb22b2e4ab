// Set-paths, a million each: into an object field, into a field of a nested
// object (whose container is looked up again before the set), and into the
// components of a pair kept in a word and in an object. Each figure is the
// whole loop's time.
#include <chrono>
#include <cstdio>

#include "runtime/boot.h"
#include "runtime/evaluator/interpreter.h"
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
    test::evaluate_text(
        "o: make object! [a: 0 b: make object! [c: 0] p: make pair! [0 0]] p: make pair! [0 0]");
    const char* loops[][2] = {
        {"repeat i 1M [o/a: i]", "repeat i 1000000 [o/a: i]"},
        {"repeat i 1M [o/b/c: i]", "repeat i 1000000 [o/b/c: i]"},
        {"repeat i 1M [p/x: i]", "repeat i 1000000 [p/x: i]"},
        {"repeat i 1M [o/p/y: i]", "repeat i 1000000 [o/p/y: i]"},
        {"repeat i 1M [] (the loop alone)", "repeat i 1000000 []"},
    };
    std::printf("a million iterations each: seconds, nanoseconds per iteration\n");
    for (auto& l : loops) {
        double s = seconds_of(l[1]);
        std::printf("  %-36s %7.3f s %7.1f ns\n", l[0], s, s * 1e9 / 1e6);
    }
    return 0;
}
