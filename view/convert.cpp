// Colour packing, face flags, DPI scaling and the millisecond timer.
#include "view/convert.h"

#include <cmath>
#include <ctime>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"

namespace kiv::gui {

uint32_t color_to_rgb(const kiv_value* t) {
    const uint8_t* b = tuple::bytes_of(t);
    uint32_t packed = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16;
    if (tuple::length_of(t) > 3) packed |= uint32_t(b[3]) << 24;
    return packed;
}

rgba_float color_to_float(uint32_t c) {
    return {float(c & 0xFF) / 255.0f, float(c >> 8 & 0xFF) / 255.0f, float(c >> 16 & 0xFF) / 255.0f,
            float(255 - (c >> 24)) / 255.0f};
}

uint32_t color_to_argb(uint32_t c) {
    uint32_t alpha = 255 - (c >> 24);
    if (alpha == 255) alpha = 254;
    return alpha << 24 | (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
}

namespace {

struct flag_entry {
    const char* name;
    uint32_t bit;
};
constexpr flag_entry FLAGS[] = {
    {"all-over", FACET_ALL_OVER},     {"focusable", FACET_FOCUSABLE}, {"resize", FACET_RESIZE},
    {"no-title", FACET_NO_TITLE},     {"no-border", FACET_NO_BORDER}, {"no-min", FACET_NO_MIN},
    {"no-max", FACET_NO_MAX},         {"no-buttons", FACET_NO_BUTTONS}, {"modal", FACET_MODAL},
    {"popup", FACET_POPUP},           {"tri-state", FACET_TRI_STATE}, {"scrollable", FACET_SCROLLABLE},
    {"password", FACET_PASSWORD},     {"no-sync", FACET_NO_SYNC},     {"fullscreen", FACET_FULLSCREEN},
};

uint32_t flag_of(const kiv_value* w) {
    if (any_word_q(type_of(w))) {
        int32_t s = symbol::resolve(word::symbol_of(w));
        for (const flag_entry& f : FLAGS)
            if (symbol::resolve(symbol::make(f.name)) == s) return f.bit;
    }
    fire(err::SCRIPT, err::script::invalid_arg, w);
}

}  // namespace

uint32_t get_flags(const kiv_value* facet) {
    uint32_t t = type_of(facet);
    if (t == TYPE_WORD) return flag_of(facet);
    if (t != TYPE_BLOCK) return 0;
    kiv_value blk = *facet;
    uint32_t bits = 0;
    kiv_value* end = block::ks_tail(&blk);
    for (kiv_value* v = block::ks_head(&blk); v < end; v++) bits |= flag_of(v);
    return bits;
}

dpi_state dpi;

void set_dpi(int32_t value) {
    dpi.dpi = value;
    dpi.factor = float(value) / 96.0f;
}

int32_t dpi_scale(double logical) { return int32_t(std::trunc(logical * dpi.factor + 0.5)); }
double dpi_unscale(double device) { return device / dpi.factor; }

namespace timer {

uint64_t now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * TIMER_FREQUENCY + uint64_t(ts.tv_nsec) / (1000000000 / TIMER_FREQUENCY);
}

double elapsed_ms(uint64_t* start, uint64_t now_count) {
    int32_t count = int32_t(uint32_t(now_count - *start));
    if (count < 0) {
        count = 2147483647;
        *start = now_count;
    }
    return double(count) * 1000.0 / double(TIMER_FREQUENCY);
}

}  // namespace timer

}  // namespace kiv::gui
