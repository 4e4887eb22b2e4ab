#pragma once
// Kiv code timed for the in-process benchmarks: the best of three runs, in
// ms, each run loading and evaluating the text afresh.
#include <algorithm>
#include <chrono>
#include <string>

#include "runtime/boot.h"

namespace kiv::bench {

inline double best_ms(const std::string& code) {
    double best = 1e30;
    for (int run = 0; run < 3; run++) {
        auto start = std::chrono::steady_clock::now();
        boot::evaluate_source(code);
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace kiv::bench
