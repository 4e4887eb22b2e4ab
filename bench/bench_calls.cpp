// The cost of one call, by kind of callable and of argument: functions with
// and without arguments, typed arguments, refinements reached through a
// path, natives, actions and operators. Each figure is the best round's
// time per call, with the time of the loop around it taken off.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/evaluator/interpreter.h"
#include "runtime/boot.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "tests/unit/natives_setup.h"

namespace {

using namespace kiv;

constexpr int CALLS = 200000;
constexpr int ROUNDS = 25;

struct subject {
    const char* label;
    kiv_value code;
    double best = 1e300;  // nanoseconds per iteration
};

subject make(const char* label, const std::string& body) {
    return subject{label, test::read_code("loop " + std::to_string(CALLS) + " [" + body + "]")};
}

// One round of each subject in turn, so that a slow spell of the machine
// touches them alike; the best round counts.
void measure(std::vector<subject>& subjects) {
    for (int round = 0; round < ROUNDS; round++) {
        for (subject& s : subjects) {
            stack::mark_native(nullptr);
            auto start = std::chrono::steady_clock::now();
            interpreter::eval(&s.code, false);
            auto end = std::chrono::steady_clock::now();
            stack::unwind_drop();
            s.best = std::min(s.best, std::chrono::duration<double, std::nano>(end - start).count() / CALLS);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    test::evaluate_text(
        "f0: does [1] "
        "f2: func [a b] [a + b] "
        "typed: func [a [integer!] b [integer! float!]] [a] "
        "refined: func [a /twice b] [a] "
        "local: func [a /local b c] [a] "
        "x: 1 blk: [1 2 3]");
    std::vector<subject> s = {
        make("loop alone", "1"),
        make("does [1]", "f0"),
        make("func [a b] [a + b]", "f2 1 2"),
        make("typed arguments", "typed 1 2"),
        make("refinement unused", "refined 1"),
        make("refinement through a path", "refined/twice 1 2"),
        make("locals", "local 1"),
        make("native: not x", "not x"),
        make("action: length? blk", "length? blk"),
        make("operator: x + 1", "x + 1"),
        make("operator: x < 1", "x < 1"),
    };
    measure(s);
    std::printf("%d calls per round, best of %d rounds, nanoseconds per call (loop taken off)\n", CALLS, ROUNDS);
    for (size_t i = 1; i < s.size(); i++) std::printf("  %-28s %8.1f\n", s[i].label, s[i].best - s[0].best);
    return 0;
}
