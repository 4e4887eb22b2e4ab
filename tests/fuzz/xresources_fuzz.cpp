// The X resource text the GUI backend reads its DPI from: any bytes, as a
// zero-terminated string, give a sane DPI or none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "view/gtk/dpi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    int dpi = kiv::gui::parse_xft_dpi(text.c_str());
    if (dpi != 0 && (dpi < 24 || dpi > 960)) std::abort();
    double factor = kiv::gui::dpi_factor_of(dpi, 1 + int(size % 3));
    if (!(factor > 0)) std::abort();
    return 0;
}
