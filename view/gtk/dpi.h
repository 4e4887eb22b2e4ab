#pragma once
// The pure parts of the backend's start-up and timers, apart so that they
// are tested without a display.
#include <cstdint>

namespace kiv::gui {

// The value of the `Xft.dpi` line of an X resource string, 0 when there is
// none or it is not a sane DPI.
int parse_xft_dpi(const char* resources);
// The factor from logical to device pixels: the X DPI over 96, less what GDK
// already scales by its integer factor.
double dpi_factor_of(int xft_dpi, int gdk_scale);
// The timer period of a `rate` in ms: an integer n >= 1 gives 1000 / n, a
// time in seconds its milliseconds; never under 10 ms. -1 for an invalid
// rate (caller raises), 0 for none (no timer).
int32_t rate_period(uint32_t type, int64_t integer, double seconds);

// The event loop's counters (see do_events).
struct loop_counters {
    int depth = 0;          // blocking loops entered, less windows closed
    int pending = 0;        // loops still to end after the current one
    int quit_requests = 0;  // loops asked to end, innermost first
    // A blocking loop saw its quit request: the next loop out ends too while
    // exits are pending. The count never goes below zero.
    void loop_ended() {
        if (quit_requests > 0) quit_requests--;
        if (pending > 0) pending--;
        if (pending > 0) quit_requests++;
    }
    // A window that a blocking loop served was destroyed.
    void window_closed() {
        pending++;
        depth--;
    }
};

}  // namespace kiv::gui
