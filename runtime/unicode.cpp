// Unicode conversion.
#include "runtime/unicode.h"

#include "runtime/errors.h"

namespace kiv::unicode {

uint32_t encode_utf8_char(uint32_t cp, uint8_t* out) {
    if (cp <= 0x7F) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp <= 0x7FF) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp <= 0xFFFF) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp > MAX_CODEPOINT) {
        kiv_value bad{TYPE_INTEGER, 0, cp, 0};
        fire(err::SCRIPT, err::script::invalid_char, &bad);
    }
    out[0] = uint8_t(0xF0 | (cp >> 18));
    out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace kiv::unicode
