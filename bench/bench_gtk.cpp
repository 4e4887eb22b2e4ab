// The GTK backend: the time from `view` of a window of 200 faces to its
// first frame painted, and events a second from send-event-os through the
// dispatcher to an actor. Needs a display (run it under Xvfb: DISPLAY=:N).
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "runtime/boot.h"
#include "runtime/runtime.h"
#include "runtime/system.h"
#include "view/gtk/gui.h"
#include "view/gtk/kivbox.h"

using namespace kiv;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr int ROUNDS = 15;
constexpr int EVENTS = 20000;

const char* WINDOW = R"(
faces: make block! 200
repeat i 200 [
    append faces make face! [
        type: 'base offset: as-pair (i - 1 % 20) * 30 (to integer! i - 1 / 20) * 30 size: 28x28
        color: as-color i * 50 % 256 i * 20 % 256 128
    ]
]
win: make face! [type: 'window text: "bench" offset: 0x0 size: 600x300 pane: faces]
)";

double ms_since(clock_type::time_point t) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    system::saved_stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    if (!gui::init()) {
        std::printf("bench_gtk: no display (run it under Xvfb)\n");
        return 0;
    }
    std::vector<double> times;
    for (int round = 0; round < ROUNDS; round++) {
        boot::evaluate_source(WINDOW);
        unsigned long before = gui::kivbox_paints();
        auto start = clock_type::now();
        boot::evaluate_source("view/no-wait win");
        // The window's box and its 200 children paint in one frame.
        while (gui::kivbox_paints() < before + 201) g_main_context_iteration(nullptr, TRUE);
        times.push_back(ms_since(start));
        boot::evaluate_source("unview/all");
        while (g_main_context_iteration(nullptr, FALSE)) {}
    }
    std::sort(times.begin(), times.end());
    std::printf("view of a 200-face window to its first frame: best %.2f ms, median %.2f ms\n", times[0],
                times[times.size() / 2]);

    boot::evaluate_source(R"(
        hits: 0
        target: make face! [type: 'base offset: 10x10 size: 50x50 actors: object [on-down: func [f e] [hits: hits + 1]]]
        win: make face! [type: 'window text: "bench" offset: 0x0 size: 100x100 pane: reduce [target]]
        view/no-wait win
        ev: make event! [type: 'down face: target offset: 20x20 flags: [down]]
    )");
    while (g_main_context_iteration(nullptr, FALSE)) {}
    auto start = clock_type::now();
    boot::evaluate_source("loop " + std::to_string(EVENTS) + " [send-event-os ev false]");
    double ms = ms_since(start);
    boot::evaluate_source("unless hits = " + std::to_string(EVENTS) + " [print [\"lost events:\" hits]]");
    std::printf("events through dispatch to an actor: %.0f a second (%.1f us each)\n", EVENTS / ms * 1000.0,
                ms * 1000.0 / EVENTS);
    return 0;
}
