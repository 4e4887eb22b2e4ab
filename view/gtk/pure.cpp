// The backend's pure conversions: DPI, timer periods.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/value.h"
#include "view/gtk/dpi.h"

namespace kiv::gui {

int parse_xft_dpi(const char* resources) {
    const char* key = "Xft.dpi:";
    for (const char* p = resources; p && *p;) {
        const char* line_end = std::strchr(p, '\n');
        if (std::strncmp(p, key, std::strlen(key)) == 0) {
            double value = std::strtod(p + std::strlen(key), nullptr);
            if (value >= 24 && value <= 960) return int(std::lround(value));
            return 0;
        }
        p = line_end ? line_end + 1 : nullptr;
    }
    return 0;
}

double dpi_factor_of(int xft, int gdk_scale) {
    if (xft <= 0) return 1.0;
    // GDK already multiplies by its integer scale.
    return double(xft) / 96.0 / double(gdk_scale > 0 ? gdk_scale : 1);
}

int32_t rate_period(uint32_t type, int64_t integer, double seconds) {
    constexpr int32_t SHORTEST = 10;  // a 0 ms timeout would spin the loop
    double ms;
    if (type == TYPE_NONE) return 0;
    if (type == TYPE_INTEGER) {
        if (integer < 1) return -1;
        ms = double(1000 / integer);
    } else if (type == TYPE_TIME) {
        if (!(seconds > 0)) return -1;
        ms = std::trunc(seconds * 1000.0);
    } else {
        return -1;
    }
    if (ms > 2147483647.0) ms = 2147483647.0;
    return ms < SHORTEST ? SHORTEST : int32_t(ms);
}

}  // namespace kiv::gui
