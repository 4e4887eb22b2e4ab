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

// The event loop's state. A quit request is one flag, as asking twice
// before a loop looks is asking once; the pending exits carry the request
// on to the loops further out.
struct loop_counters {
    int depth = 0;             // blocking loops entered, less windows closed
    int pending = 0;           // loops still to end, counting the current one
    bool quit_posted = false;  // the innermost loop is to end
    void post_quit() { quit_posted = true; }
    // A blocking loop ended on its quit request: the next loop out ends too
    // while exits are pending. The count never goes below zero (loops ended
    // by a plain request would otherwise leave it negative, and closing a
    // window of two stacked loops would then end only the inner one).
    void loop_ended() {
        quit_posted = false;
        if (pending > 0) pending--;
        if (pending > 0) quit_posted = true;
    }
    // A window that a blocking loop served was destroyed.
    void window_closed() {
        pending++;
        depth--;
    }
};

}  // namespace kiv::gui
