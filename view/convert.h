#pragma once
// The small conversions every GUI backend shares: colours in the packed and
// float forms that drawing libraries take, face flag words as a bit mask,
// DPI scaling between logical and device pixels, and a millisecond timer.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::gui {

// Face flag bits of the `flags` facet.
constexpr uint32_t FACET_ALL_OVER = 0x00000001;
constexpr uint32_t FACET_FOCUSABLE = 0x00000002;
constexpr uint32_t FACET_TRI_STATE = 0x00020000;
constexpr uint32_t FACET_SCROLLABLE = 0x00040000;
constexpr uint32_t FACET_PASSWORD = 0x00080000;
constexpr uint32_t FACET_NO_SYNC = 0x00100000;
constexpr uint32_t FACET_FULLSCREEN = 0x00200000;
constexpr uint32_t FACET_POPUP = 0x01000000;
constexpr uint32_t FACET_MODAL = 0x02000000;
constexpr uint32_t FACET_RESIZE = 0x04000000;
constexpr uint32_t FACET_NO_BUTTONS = 0x08000000;
constexpr uint32_t FACET_NO_MAX = 0x10000000;
constexpr uint32_t FACET_NO_MIN = 0x20000000;
constexpr uint32_t FACET_NO_TITLE = 0x40000000;
constexpr uint32_t FACET_NO_BORDER = 0x80000000;

// A colour tuple packed into 32 bits: first channel in bits 0-7, then the
// second and third, alpha (0 = opaque) in bits 24-31; a 3-byte tuple packs
// with alpha 0 whatever its cell holds past the third byte.
uint32_t color_to_rgb(const kiv_value* tuple);
// The channels of a packed colour as floats in 0..1, alpha turned into
// opacity (1.0 = opaque).
struct rgba_float {
    float r, g, b, a;
};
rgba_float color_to_float(uint32_t packed);
// ARGB with the first and third channels exchanged and alpha as opacity;
// full opacity is lowered to 254.
uint32_t color_to_argb(uint32_t packed);

// The OR of the bits of a `flags` facet: one word, or a block of words; any
// other value gives 0. A word that names no flag raises `invalid-arg`.
uint32_t get_flags(const kiv_value* facet);

// DPI scaling. The factor is dpi / 96.
struct dpi_state {
    int32_t dpi = 96;
    float factor = 1.0f;
};
extern dpi_state dpi;
void set_dpi(int32_t value);
int32_t dpi_scale(double logical);    // truncate(value * factor + 0.5)
double dpi_unscale(double device);    // value / factor

// Millisecond timer on a monotonic counter of TIMER_FREQUENCY ticks a
// second. The elapsed count is taken as a signed 32-bit number: a negative
// one (the counter wrapped) reads as the largest count and restarts the
// measurement.
namespace timer {
constexpr uint64_t TIMER_FREQUENCY = 1000000;
uint64_t now();
double elapsed_ms(uint64_t* start, uint64_t now_count);
inline double elapsed_ms(uint64_t* start) { return elapsed_ms(start, now()); }
}  // namespace timer

}  // namespace kiv::gui
