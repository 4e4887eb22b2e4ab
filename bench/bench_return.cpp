// The cost of `return`: calls of a function that ends with `return` against
// calls of one that falls off its end. return travels as a pending exit
// level, not as a C++ exception, so the two should stay close: the aim is a
// ratio of at most about 1.5.
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
    double best = 1e300;  // nanoseconds per call
};

subject make(const char* label, const std::string& call) {
    return subject{label, test::read_code("loop " + std::to_string(CALLS) + " [" + call + "]")};
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
        "value-off: func [a b] [a] "
        "value-ret: func [a b] [return a] "
        "sum-off: func [a b] [a + b] "
        "sum-ret: func [a b] [return a + b]");
    std::vector<subject> s = {
        make("loop alone", "1 2 3"),
        make("func [a b] [a]", "value-off 1 2"),
        make("func [a b] [return a]", "value-ret 1 2"),
        make("func [a b] [a + b]", "sum-off 1 2"),
        make("func [a b] [return a + b]", "sum-ret 1 2"),
    };
    measure(s);
    std::printf("%d calls per round, best of %d rounds, nanoseconds per iteration\n", CALLS, ROUNDS);
    for (const subject& x : s) std::printf("  %-28s %8.1f\n", x.label, x.best);
    double loop = s[0].best;
    for (size_t i = 1; i + 1 < s.size(); i += 2) {
        double off = s[i].best, ret = s[i + 1].best;
        std::printf("%s against %s: %.2f (calls alone: %.2f)\n", s[i + 1].label, s[i].label, ret / off,
                    (ret - loop) / (off - loop));
    }
    return 0;
}
